// SPDX-License-Identifier: GPL-3.0-or-later
#include "EngineSettings.h"

#include "AddIns.h"
#include "LocalDevices.h"

#include <freerdp/channels/channels.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/settings.h>

#include <dlfcn.h>
#include <algorithm>

namespace vandrelle {

namespace {

void AddDevice(rdpSettings* s, std::vector<std::string> params) {
    std::vector<const char*> args;
    for (const std::string& p : params) args.push_back(p.c_str());
    freerdp_client_add_device_channel(s, args.size(), args.data());
    freerdp_settings_set_bool(s, FreeRDP_DeviceRedirection, TRUE);
}

void AddDevices(rdpSettings* s, const ConnectionValues& v) {
    if (v.drives) {
        for (const ConnectionValues::Drive& d : v.driveCollection) {
            if (d.redirected) AddDevice(s, {"drive", ShareName({d.name, d.path}), d.path});
        }
        if (v.dynamicDrives) AddDevice(s, {"drive", "DynamicDrives", "DynamicDrives"});
        freerdp_settings_set_bool(s, FreeRDP_RedirectDrives, TRUE);
    }
    if (v.ports) {
        for (const LocalPort& port : LocalPorts()) AddDevice(s, {port.kind, port.name, port.path});
        freerdp_settings_set_bool(s, FreeRDP_RedirectSerialPorts, TRUE);
        freerdp_settings_set_bool(s, FreeRDP_RedirectParallelPorts, TRUE);
    }
    if (v.printers) AddDevice(s, {"printer"});
    if (v.smartCards) AddDevice(s, {"smartcard"});
}

}  // namespace

void ApplySettings(rdpSettings* s, const ConnectionValues& v) {
    freerdp_settings_set_string(s, FreeRDP_ServerHostname, v.server.c_str());
    freerdp_settings_set_uint32(s, FreeRDP_ServerPort, static_cast<UINT32>(v.port));
    if (!v.userName.empty()) freerdp_settings_set_string(s, FreeRDP_Username, v.userName.c_str());
    if (!v.domain.empty()) freerdp_settings_set_string(s, FreeRDP_Domain, v.domain.c_str());
    if (!v.password.empty()) freerdp_settings_set_string(s, FreeRDP_Password, v.password.c_str());
    freerdp_settings_set_bool(s, FreeRDP_ConsoleSession, v.console);
    // The protocol wants an even width.
    freerdp_settings_set_uint32(s, FreeRDP_DesktopWidth,
                                static_cast<UINT32>(std::max(200, v.desktopWidth) & ~1));
    freerdp_settings_set_uint32(s, FreeRDP_DesktopHeight,
                                static_cast<UINT32>(std::max(200, v.desktopHeight)));
    // The desktop may follow the window later, where the server offers it.
    freerdp_settings_set_bool(s, FreeRDP_SupportDisplayControl, TRUE);
    freerdp_settings_set_bool(s, FreeRDP_DynamicResolutionUpdate, TRUE);
    freerdp_settings_set_uint32(s, FreeRDP_DesktopScaleFactor, static_cast<UINT32>(v.desktopScale));
    freerdp_settings_set_uint32(s, FreeRDP_DeviceScaleFactor, static_cast<UINT32>(v.deviceScale));
    freerdp_settings_set_uint32(s, FreeRDP_ColorDepth, static_cast<UINT32>(v.colorDepth));
    freerdp_settings_set_bool(s, FreeRDP_AudioPlayback, v.audioMode == 0);
    freerdp_settings_set_bool(s, FreeRDP_RemoteConsoleAudio, v.audioMode == 1);
    freerdp_settings_set_uint32(s, FreeRDP_KeyboardHook, static_cast<UINT32>(v.keyboardHookMode));
    freerdp_settings_set_uint32(s, FreeRDP_PerformanceFlags,
                                static_cast<UINT32>(v.performanceFlags));
    freerdp_performance_flags_split(s);
    freerdp_settings_set_bool(s, FreeRDP_BitmapCachePersistEnabled, v.bitmapPersistence != 0);
    freerdp_settings_set_bool(s, FreeRDP_RedirectPrinters, v.printers);
    freerdp_settings_set_bool(s, FreeRDP_RedirectSmartCards, v.smartCards);
    freerdp_settings_set_bool(s, FreeRDP_RedirectClipboard, v.clipboard);
    AddDevices(s, v);
    freerdp_settings_set_bool(s, FreeRDP_NlaSecurity, v.credSsp);
    freerdp_settings_set_bool(s, FreeRDP_TlsSecurity, true);
    freerdp_settings_set_bool(s, FreeRDP_RdpSecurity, true);
    ApplyLinkWatch(s);
}

// How soon a dead link is seen. TCP_USER_TIMEOUT (the ack timeout) bounds how
// long sent data may stay unacknowledged, so it catches a cut while the user
// types: about 13.5 s after the first key. A slow live link must survive it:
// at 2 s round trips the retransmission timeout is about 3-4 s and doubles,
// so a lost segment is sent again at ~3.5 s and ~10.5 s and the second
// retransmission's acknowledgement is back by ~12.5 s. Only three losses in a
// row of one segment's round trip (~10% each at 5% loss either way, so ~1e-3)
// cut it, and a steady flow repairs its losses by fast retransmission long
// before that. An idle link sends nothing: keep-alive probes go after 5 s of
// silence and then every 2 s; with a user timeout set, the kernel declares
// the link dead at the first probe check 13 s after the last byte received
// with a probe unanswered (~15 s), while a live link answers one of the four
// probes sent by then (all four lost: ~1e-4). The engine's heartbeat support
// covers a server that freezes with its socket open: it announces its beat,
// and the connection watches for it. The engine's own reconnection resumes
// the session with the server's cookie after a lost link; the session makes
// fresh connects after it when that fails.
void ApplyLinkWatch(rdpSettings* s) {
    freerdp_settings_set_uint32(s, FreeRDP_TcpAckTimeout, kTcpAckTimeoutMs);
    freerdp_settings_set_bool(s, FreeRDP_TcpKeepAlive, TRUE);
    freerdp_settings_set_uint32(s, FreeRDP_TcpKeepAliveDelay, kKeepAliveDelayS);
    freerdp_settings_set_uint32(s, FreeRDP_TcpKeepAliveInterval, kKeepAliveIntervalS);
    freerdp_settings_set_uint32(s, FreeRDP_TcpKeepAliveRetries, kKeepAliveRetries);
    freerdp_settings_set_bool(s, FreeRDP_SupportHeartbeatPdu, TRUE);
    freerdp_settings_set_bool(s, FreeRDP_AutoReconnectionEnabled, TRUE);
    freerdp_settings_set_uint32(s, FreeRDP_AutoReconnectMaxRetries, kEngineResumeTries);
}

// Add-in libraries given by path. One that another user could have written is
// refused before it is opened (opening runs its code); one that does not load,
// or whose entry point fails, is reported and left out; the connection goes on
// without either.
std::vector<void*> LoadAddIns(rdpContext* context, const std::string& list,
                              const std::function<void(const std::string&)>& report) {
    std::vector<void*> loaded;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string path = list.substr(start, comma - start);
        start = comma + 1;
        if (path.empty()) continue;
        std::string file, problem;
        if (!ResolveSafeAddIn(path, &file, &problem)) {
            report("The add-in " + path + " was not loaded: " + problem + ".");
            continue;
        }
        void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            const char* why = ::dlerror();
            problem = "The add-in " + path + " could not be loaded: " + (why ? why : "");
        } else {
            loaded.push_back(library);
            int status = -1;
            if (void* ex = ::dlsym(library, "VirtualChannelEntryEx")) {
                status = freerdp_channels_client_load_ex(
                    context->channels, context->settings,
                    reinterpret_cast<PVIRTUALCHANNELENTRYEX>(ex), nullptr);
            } else if (void* entry = ::dlsym(library, "VirtualChannelEntry")) {
                status = freerdp_channels_client_load(context->channels, context->settings,
                                                      reinterpret_cast<PVIRTUALCHANNELENTRY>(entry),
                                                      nullptr);
            }
            if (status != 0)
                problem = "The add-in " + path + " is not a channel add-in or failed to start.";
        }
        if (!problem.empty()) report(problem);
    }
    return loaded;
}

}  // namespace vandrelle
