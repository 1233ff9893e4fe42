// SPDX-License-Identifier: GPL-3.0-or-later
#include "FreeRdpClient.h"

#include "ClipboardChannel.h"
#include "DisconnectReason.h"
#include "LocalDevices.h"

#include <freerdp/channels/channels.h>
#include <freerdp/channels/cliprdr.h>
#include <freerdp/client.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/error.h>
#include <freerdp/event.h>
#include <freerdp/freerdp.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/input.h>
#include <freerdp/primitives.h>
#include <freerdp/settings.h>
#include <openssl/provider.h>
#include <winpr/input.h>
#include <winpr/string.h>
#include <winpr/synch.h>

#include <dlfcn.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

static_assert(vandrelle::kEngineDnsNameNotFound == FREERDP_ERROR_DNS_NAME_NOT_FOUND);
static_assert(vandrelle::kEngineConnectFailed == FREERDP_ERROR_CONNECT_FAILED);
static_assert(vandrelle::kEngineConnectTransportFailed == FREERDP_ERROR_CONNECT_TRANSPORT_FAILED);
static_assert(vandrelle::kEngineConnectCancelled == FREERDP_ERROR_CONNECT_CANCELLED);

namespace vandrelle {
namespace {

using ToClient = std::function<void(std::function<void(FreeRdpClient&)>)>;

std::string EngineErrorText(std::uint32_t code) {
    const char* text = freerdp_get_last_error_string(code);
    return text ? text : "Connection failed.";
}

std::string ErrorInfoText(std::uint32_t code) {
    const char* text = freerdp_get_error_info_string(code);
    return text ? text : "";
}

// OpenSSL 3 keeps the ciphers of NTLM in its legacy provider.
void LoadCryptoProvidersOnce() {
    // Loaded for the life of the process; kept so that they stay reachable.
    [[maybe_unused]] static OSSL_PROVIDER* legacy = nullptr;
    [[maybe_unused]] static OSSL_PROVIDER* standard = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        standard = OSSL_PROVIDER_load(nullptr, "default");
        // The processor's own routines, without the start-up contest between
        // them and the alternatives, which costs time and memory and has only
        // the processor's routines to choose from here.
        primitives_set_hints(PRIMITIVES_ONLY_CPU);
    });
}

// One input event for the worker to send.
struct InputEvent {
    enum class Kind { Key, Mouse, Sync } kind;
    std::uint32_t code = 0;  // scan code, or pointer flags, or lock flags
    bool down = false;
    bool repeat = false;
    std::uint16_t x = 0, y = 0;
};

struct ClientContext {
    rdpClientContext common;  // must come first: the engine allocates ContextSize bytes
    FreeRdpClient::Connection* connection;
};

// The connections' worker threads still running, so that a program can let
// them end before it exits. Never destroyed: a worker may end after the
// program's static objects are gone.
class LiveWorkers {
public:
    static LiveWorkers& Get() {
        static auto* live = new LiveWorkers;
        return *live;
    }
    void Started() {
        std::lock_guard lock(m_mutex);
        ++m_count;
    }
    void Ended() {
        std::lock_guard lock(m_mutex);
        if (--m_count == 0) m_none.notify_all();
    }
    bool WaitForNone(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_none.wait_for(lock, timeout, [this] { return m_count == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_none;
    int m_count = 0;
};

}  // namespace

// One connection attempt: owns every engine object, on its own thread.
class FreeRdpClient::Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Values values, ToClient toClient)
        : m_values(std::move(values)),
          m_toClient(std::move(toClient)),
          m_inputReady(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Connection() {
        if (m_inputReady) CloseHandle(m_inputReady);
    }

    void SetLocalClipboard(std::string text) { m_clipboard.SetLocalText(std::move(text)); }

    void QueueInput(const InputEvent& event) {
        std::lock_guard lock(m_inputMutex);
        if (!m_active) return;
        m_input.push_back(event);
        SetEvent(m_inputReady);
    }

    void Start() {
        LiveWorkers::Get().Started();
        std::thread([self = shared_from_this()]() mutable {
            self->Run();
            self.reset();
            LiveWorkers::Get().Ended();
        }).detach();
    }

    void Abort() {
        std::lock_guard lock(m_mutex);
        m_abort = true;
        if (m_context) freerdp_abort_connect_context(m_context);
    }

    bool WithFrame(const std::function<void(const FrameView&)>& use) {
        std::lock_guard lock(m_frameMutex);
        if (!m_frame.pixels) return false;
        use(m_frame);
        return true;
    }

private:
    static Connection& Of(rdpContext* context) {
        return *reinterpret_cast<ClientContext*>(context)->connection;
    }

    void Run();
    void Configure(rdpSettings* settings);
    void AddDevices(rdpSettings* settings);
    void LoadPlugins(rdpContext* context);
    void EventLoop(rdpContext* context);
    static void StopChannelThreads(rdpContext* context);
    bool Aborted() {
        std::lock_guard lock(m_mutex);
        return m_abort;
    }

    static BOOL ClientNew(freerdp* instance, rdpContext*) {
        instance->PreConnect = PreConnect;
        instance->PostConnect = PostConnect;
        instance->PostDisconnect = PostDisconnect;
        instance->PostFinalDisconnect = PostFinalDisconnect;
        instance->LoadChannels = LoadChannels;
        instance->AuthenticateEx = Authenticate;
        instance->VerifyCertificateEx = VerifyCertificate;
        instance->VerifyChangedCertificateEx = VerifyChangedCertificate;
        return TRUE;
    }

    static BOOL PreConnect(freerdp* instance) {
        rdpContext* context = instance->context;
        PubSub_SubscribeChannelConnected(context->pubSub, ChannelConnected);
        PubSub_SubscribeChannelDisconnected(context->pubSub, ChannelDisconnected);
        return TRUE;
    }

    // Channels are loaded when the engine asks for them (again after a redirection).
    static BOOL LoadChannels(freerdp* instance) {
        if (!freerdp_client_load_channels(instance)) return FALSE;
        Of(instance->context).LoadPlugins(instance->context);
        return TRUE;
    }

    // The clipboard is ours; every other channel is wired as the engine's own
    // clients wire it.
    static void ChannelConnected(void* ctx, const ChannelConnectedEventArgs* e) {
        if (std::strcmp(e->name, CLIPRDR_SVC_CHANNEL_NAME) == 0) {
            Of(static_cast<rdpContext*>(ctx))
                .m_clipboard.Attach(static_cast<CliprdrClientContext*>(e->pInterface));
        } else {
            freerdp_client_OnChannelConnectedEventHandler(ctx, e);
        }
    }

    static void ChannelDisconnected(void* ctx, const ChannelDisconnectedEventArgs* e) {
        if (std::strcmp(e->name, CLIPRDR_SVC_CHANNEL_NAME) == 0) {
            Of(static_cast<rdpContext*>(ctx))
                .m_clipboard.Detach(static_cast<CliprdrClientContext*>(e->pInterface));
        } else {
            freerdp_client_OnChannelDisconnectedEventHandler(ctx, e);
        }
    }

    static BOOL PostConnect(freerdp* instance) {
        Connection& self = Of(instance->context);
        {
            std::lock_guard lock(self.m_frameMutex);
            if (!gdi_init(instance, PIXEL_FORMAT_BGRX32)) return FALSE;
            self.CaptureFrame(instance->context);
        }
        rdpUpdate* update = instance->context->update;
        self.m_engineBeginPaint = update->BeginPaint;
        self.m_engineEndPaint = update->EndPaint;
        self.m_engineResize = update->DesktopResize;
        update->BeginPaint = BeginPaint;
        update->EndPaint = EndPaint;
        update->DesktopResize = DesktopResize;
        return TRUE;
    }

    // The picture goes when the session ends; its memory only once the
    // channels, whose threads may still paint, are stopped.
    static void PostDisconnect(freerdp* instance) {
        Connection& self = Of(instance->context);
        std::lock_guard lock(self.m_frameMutex);
        self.m_frame = {};
    }

    static void PostFinalDisconnect(freerdp* instance) {
        Connection& self = Of(instance->context);
        std::lock_guard lock(self.m_frameMutex);
        self.m_frame = {};
        gdi_free(instance);
    }

    // Painting happens on engine threads; the frame lock keeps the user
    // interface from reading a half-painted picture.
    static BOOL BeginPaint(rdpContext* context) {
        Connection& self = Of(context);
        self.m_frameMutex.lock();
        const BOOL ok = self.m_engineBeginPaint ? self.m_engineBeginPaint(context) : TRUE;
        if (!ok) self.m_frameMutex.unlock();
        return ok;
    }

    static BOOL EndPaint(rdpContext* context) {
        Connection& self = Of(context);
        const BOOL ok = self.m_engineEndPaint ? self.m_engineEndPaint(context) : TRUE;
        self.CollectDirty(context);
        self.m_frameMutex.unlock();
        self.NotifyFrameChanged();
        return ok;
    }

    static BOOL DesktopResize(rdpContext* context) {
        Connection& self = Of(context);
        std::lock_guard lock(self.m_frameMutex);
        const BOOL ok = self.m_engineResize ? self.m_engineResize(context) : TRUE;
        self.CaptureFrame(context);
        self.AddDirty({0, 0, self.m_frame.width, self.m_frame.height});
        self.NotifyFrameChanged();
        return ok;
    }

    void SendInput(rdpContext* context) {
        std::vector<InputEvent> events;
        {
            std::lock_guard lock(m_inputMutex);
            events.swap(m_input);
            ResetEvent(m_inputReady);
        }
        rdpInput* input = context->input;
        for (const InputEvent& e : events) {
            switch (e.kind) {
                case InputEvent::Kind::Key:
                    freerdp_input_send_keyboard_event_ex(input, e.down, e.repeat, e.code);
                    break;
                case InputEvent::Kind::Mouse:
                    freerdp_input_send_mouse_event(input, static_cast<UINT16>(e.code), e.x, e.y);
                    break;
                case InputEvent::Kind::Sync:
                    freerdp_input_send_synchronize_event(input, e.code);
                    break;
            }
        }
    }

    void SetActive(bool active) {
        std::lock_guard lock(m_inputMutex);
        m_active = active;
        if (!active) m_input.clear();
    }

    // The painted area: read and reset, as the engine leaves it to the client.
    void CollectDirty(rdpContext* context) {
        const rdpGdi* gdi = context->gdi;
        if (!gdi || !gdi->primary || !gdi->primary->hdc || !gdi->primary->hdc->hwnd) return;
        HGDI_WND hwnd = gdi->primary->hdc->hwnd;
        if (hwnd->invalid && !hwnd->invalid->null) {
            AddDirty({static_cast<int>(hwnd->invalid->x), static_cast<int>(hwnd->invalid->y),
                      static_cast<int>(hwnd->invalid->w), static_cast<int>(hwnd->invalid->h)});
            hwnd->invalid->null = TRUE;
        }
        hwnd->ninvalid = 0;
    }

    void AddDirty(Area a) {
        if (a.width <= 0 || a.height <= 0) return;
        if (m_dirty.width <= 0 || m_dirty.height <= 0) {
            m_dirty = a;
            return;
        }
        const int right = std::max(m_dirty.x + m_dirty.width, a.x + a.width);
        const int bottom = std::max(m_dirty.y + m_dirty.height, a.y + a.height);
        m_dirty.x = std::min(m_dirty.x, a.x);
        m_dirty.y = std::min(m_dirty.y, a.y);
        m_dirty.width = right - m_dirty.x;
        m_dirty.height = bottom - m_dirty.y;
    }

    void CaptureFrame(rdpContext* context) {
        const rdpGdi* gdi = context->gdi;
        m_frame = {static_cast<int>(gdi->width), static_cast<int>(gdi->height),
                   static_cast<int>(gdi->stride), gdi->primary_buffer};
    }

    void NotifyFrameChanged() {
        if (m_frameNoticePending.exchange(true)) return;  // one notice until it is taken
        m_toClient([self = shared_from_this()](FreeRdpClient& client) {
            Area dirty;
            {
                std::lock_guard lock(self->m_frameMutex);
                dirty = self->m_dirty;
                self->m_dirty = {};
                self->m_frameNoticePending = false;
            }
            if (client.m_frameChanged) client.m_frameChanged(dirty);
        });
    }

    template <typename Answer>
    Answer AskOnUiThread(std::function<Answer(FreeRdpClient&)> ask, Answer whenGone);

    static DWORD VerifyCertificate(freerdp* instance, const char* host, UINT16 port,
                                   const char* commonName, const char* subject, const char* issuer,
                                   const char* fingerprint, DWORD) {
        CertificateQuestion q{host ? host : "",
                              port,
                              commonName ? commonName : "",
                              subject ? subject : "",
                              issuer ? issuer : "",
                              fingerprint ? fingerprint : "",
                              false};
        return static_cast<DWORD>(Of(instance->context).AskCertificate(std::move(q)));
    }

    static DWORD VerifyChangedCertificate(freerdp* instance, const char* host, UINT16 port,
                                          const char* commonName, const char* subject,
                                          const char* issuer, const char* fingerprint, const char*,
                                          const char*, const char*, DWORD) {
        CertificateQuestion q{host ? host : "",
                              port,
                              commonName ? commonName : "",
                              subject ? subject : "",
                              issuer ? issuer : "",
                              fingerprint ? fingerprint : "",
                              true};
        return static_cast<DWORD>(Of(instance->context).AskCertificate(std::move(q)));
    }

    CertificateAnswer AskCertificate(CertificateQuestion q) {
        return AskOnUiThread<CertificateAnswer>(
            [q](FreeRdpClient& client) { return client.m_prompts.AskCertificate(q); },
            CertificateAnswer::Reject);
    }

    static BOOL Authenticate(freerdp* instance, char** user, char** password, char** domain,
                             rdp_auth_reason reason) {
        // Only credential security needs credentials before the session; with
        // TLS or RDP security the server asks on its own log-on screen.
        if (reason != AUTH_NLA) return TRUE;
        const LogonCredentials known{*user ? *user : "", *domain ? *domain : "",
                                     *password ? *password : ""};
        if (!known.user.empty() && !known.password.empty()) return TRUE;
        Connection& self = Of(instance->context);
        const std::string server = self.m_values.server;
        const auto answer = self.AskOnUiThread<std::optional<LogonCredentials>>(
            [server, known](FreeRdpClient& client) {
                return client.m_prompts.AskCredentials(server, known);
            },
            std::nullopt);
        if (!answer) return FALSE;
        free(*user);
        free(*domain);
        free(*password);
        *user = _strdup(answer->user.c_str());
        *domain = _strdup(answer->domain.c_str());
        *password = _strdup(answer->password.c_str());
        return TRUE;
    }

    Values m_values;
    ToClient m_toClient;
    std::mutex m_mutex;  // guards m_context and m_abort
    rdpContext* m_context = nullptr;
    bool m_abort = false;
    std::mutex m_frameMutex;
    FrameView m_frame;
    Area m_dirty;  // guarded by m_frameMutex
    std::atomic<bool> m_frameNoticePending{false};
    std::mutex m_inputMutex;  // guards m_input and m_active
    std::vector<InputEvent> m_input;
    bool m_active = false;
    HANDLE m_inputReady;
    std::vector<void*> m_plugins;  // add-in libraries, closed when the engine is gone
    ClipboardChannel m_clipboard{[this](std::string text) {
        m_toClient([text = std::move(text)](FreeRdpClient& client) {
            client.m_localClipboard = text;  // it came from there: not to be offered back
            if (client.m_remoteClipboard) client.m_remoteClipboard(text);
        });
    }};
    pBeginPaint m_engineBeginPaint = nullptr;
    pEndPaint m_engineEndPaint = nullptr;
    pDesktopResize m_engineResize = nullptr;
};

template <typename Answer>
Answer FreeRdpClient::Connection::AskOnUiThread(std::function<Answer(FreeRdpClient&)> ask,
                                                Answer whenGone) {
    auto promise = std::make_shared<std::promise<Answer>>();
    std::future<Answer> future = promise->get_future();
    m_toClient([promise, ask](FreeRdpClient& client) { promise->set_value(ask(client)); });
    try {
        // The user may take long to answer; a Disconnect() meanwhile ends the wait.
        while (future.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
            if (Aborted()) return whenGone;
        }
        return future.get();
    } catch (const std::future_error&) {
        return whenGone;  // the client went away without asking
    }
}

void FreeRdpClient::Connection::Configure(rdpSettings* s) {
    const Values& v = m_values;
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
    AddDevices(s);
    freerdp_settings_set_bool(s, FreeRDP_NlaSecurity, v.credSsp);
    freerdp_settings_set_bool(s, FreeRDP_TlsSecurity, true);
    freerdp_settings_set_bool(s, FreeRDP_RdpSecurity, true);
    freerdp_settings_set_bool(s, FreeRDP_AutoReconnectionEnabled, false);
}

namespace {

void AddDevice(rdpSettings* s, std::vector<std::string> params) {
    std::vector<const char*> args;
    for (const std::string& p : params) args.push_back(p.c_str());
    freerdp_client_add_device_channel(s, args.size(), args.data());
    freerdp_settings_set_bool(s, FreeRDP_DeviceRedirection, TRUE);
}

}  // namespace

void FreeRdpClient::Connection::AddDevices(rdpSettings* s) {
    const Values& v = m_values;
    if (v.drives) {
        for (const Values::Drive& d : v.driveCollection) {
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

// Add-in libraries given by path. One that does not load, or whose entry
// point fails, is reported and left out; the connection goes on without it.
void FreeRdpClient::Connection::LoadPlugins(rdpContext* context) {
    std::string list = m_values.pluginDlls;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string path = list.substr(start, comma - start);
        start = comma + 1;
        if (path.empty()) continue;
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        std::string problem;
        if (!library) {
            const char* why = ::dlerror();
            problem = "The add-in " + path + " could not be loaded: " + (why ? why : "");
        } else {
            m_plugins.push_back(library);
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
        if (!problem.empty()) {
            m_toClient(
                [problem](FreeRdpClient& client) { client.m_prompts.ReportProblem(problem); });
        }
    }
}

void FreeRdpClient::Connection::Run() {
    LoadCryptoProvidersOnce();
    RDP_CLIENT_ENTRY_POINTS entry{};
    entry.Version = RDP_CLIENT_INTERFACE_VERSION;
    entry.Size = sizeof(entry);
    entry.ContextSize = sizeof(ClientContext);
    entry.ClientNew = ClientNew;
    rdpContext* context = freerdp_client_context_new(&entry);
    EngineOutcome outcome;
    if (context) {
        reinterpret_cast<ClientContext*>(context)->connection = this;
        Configure(context->settings);
        {
            std::lock_guard lock(m_mutex);
            m_context = context;
        }
        const bool connected = !Aborted() && freerdp_connect(context->instance) == TRUE;
        if (connected) {
            m_toClient([](FreeRdpClient& client) {
                if (client.m_sink) client.m_sink->OnConnected();
            });
            SetActive(true);
            EventLoop(context);
            SetActive(false);
        }
        outcome.wasActive = connected;
        outcome.errorInfo = freerdp_error_info(context->instance);
        outcome.lastError = freerdp_get_last_error(context);
        outcome.localDisconnect = Aborted();
        StopChannelThreads(context);
        // Also after a failed or cancelled connect: channels may already run.
        freerdp_disconnect(context->instance);
        {
            std::lock_guard lock(m_mutex);
            m_context = nullptr;
        }
        freerdp_client_context_free(context);
        for (void* library : m_plugins) ::dlclose(library);
        m_plugins.clear();
    } else {
        outcome.lastError = kEngineConnectFailed;
    }
    const DisconnectReason reason = MapDisconnect(outcome);
    m_toClient([self = shared_from_this(), reason](FreeRdpClient& client) {
        if (client.m_connection == self) {
            client.m_connection.reset();
            // A screen the client covers itself is given back when the session ends.
            if (!client.m_values.containerHandledFullScreen)
                client.put_FullScreen(VariantBool::False);
        }
        client.m_extendedReason = reason.extended;
        if (client.m_sink) client.m_sink->OnDisconnected(reason.reason);
    });
}

// The engine's channels free their state when the connection ends without
// waiting for their own threads: the sound channel's thread, still handling a
// message that arrived just before a close, then reads a device already gone.
// Those threads stop taking work once the abort event is set, so it is set
// first and they get a moment to finish the message in hand. Nothing new
// reaches them meanwhile: channel data is read on this thread only.
void FreeRdpClient::Connection::StopChannelThreads(rdpContext* context) {
    freerdp_abort_connect_context(context);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void FreeRdpClient::Connection::EventLoop(rdpContext* context) {
    while (!freerdp_shall_disconnect_context(context)) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS] = {};
        handles[0] = m_inputReady;
        const DWORD count = freerdp_get_event_handles(context, handles + 1, ARRAYSIZE(handles) - 1);
        if (count == 0) break;
        if (WaitForMultipleObjects(count + 1, handles, FALSE, 100) == WAIT_FAILED) break;
        SendInput(context);
        if (!freerdp_check_event_handles(context)) break;
    }
}

namespace {

// A drive of the collection; its choice is kept in the client's values.
class CollectionDrive : public RdpDrive {
public:
    explicit CollectionDrive(FreeRdpClient::Values::Drive& drive) : m_drive(drive) {}
    std::string get_Name() const override { return m_drive.name; }
    void put_RedirectionState(VariantBool value) override {
        m_drive.redirected = value != VariantBool::False;
    }

private:
    FreeRdpClient::Values::Drive& m_drive;
};

}  // namespace

FreeRdpClient::FreeRdpClient(UiPost post, SessionPrompts& prompts)
    : m_post(std::move(post)), m_prompts(prompts) {
    for (const LocalDrive& d : MountedVolumes()) {
        m_values.driveCollection.push_back({d.name, d.path, true});
    }
    for (auto& d : m_values.driveCollection)
        m_drives.push_back(std::make_unique<CollectionDrive>(d));
}

FreeRdpClient::~FreeRdpClient() {
    *m_alive = false;
    m_alive.reset();  // queued events for this client are dropped from now on
    if (m_connection) m_connection->Abort();
}

void FreeRdpClient::Deliver(std::function<void(RdpClientEvents&)> event) {
    m_post([alive = std::weak_ptr<bool>(m_alive), this, event] {
        if (alive.lock() && m_sink) event(*m_sink);
    });
}

void FreeRdpClient::put_Server(const std::string& value) {
    if (value.empty() || value.find_first_of(" \t\r\n/\\") != std::string::npos) {
        throw RdpError(static_cast<HResult>(0x80070057), "The server name is not valid.");
    }
    m_values.server = value;
}

void FreeRdpClient::put_ColorDepth(std::int32_t value) {
    if (value != 8 && value != 15 && value != 16 && value != 24 && value != 32) {
        throw RdpError(static_cast<HResult>(0x80070057), "The colour depth is not valid.");
    }
    m_values.colorDepth = value;
}

void FreeRdpClient::put_RDPPort(std::int32_t value) {
    if (value < 1 || value > 65535) {
        throw RdpError(static_cast<HResult>(0x80070057), "The port is not valid.");
    }
    m_values.port = value;
}

void FreeRdpClient::put_FullScreen(VariantBool value) {
    const bool wasFullScreen = m_values.fullScreen;
    m_values.fullScreen = value != VariantBool::False;
    if (m_values.containerHandledFullScreen) {
        if (m_values.fullScreen && m_connection) {
            Deliver([](RdpClientEvents& sink) { sink.OnRequestGoFullScreen(); });
        }
    } else if (m_values.fullScreen != wasFullScreen && m_fullScreen) {
        m_fullScreen(m_values.fullScreen);
    }
}

bool FreeRdpClient::WaitForConnectionsToEnd(std::chrono::milliseconds timeout) {
    return LiveWorkers::Get().WaitForNone(timeout);
}

void FreeRdpClient::Connect() {
    m_extendedReason = 0;
    ToClient toClient = [post = m_post, alive = std::weak_ptr<bool>(m_alive),
                         self = this](std::function<void(FreeRdpClient&)> task) {
        post([alive, self, task] {
            if (alive.lock()) task(*self);
        });
    };
    m_connection = std::make_shared<Connection>(m_values, std::move(toClient));
    if (m_localClipboard) m_connection->SetLocalClipboard(*m_localClipboard);
    Deliver([](RdpClientEvents& sink) { sink.OnConnecting(); });
    m_connection->Start();
}

void FreeRdpClient::Disconnect() {
    if (m_connection) m_connection->Abort();
}

std::string FreeRdpClient::GetErrorDescription(std::uint32_t reason, std::uint32_t extended) {
    return DescribeDisconnect(static_cast<std::int32_t>(reason),
                              static_cast<std::int32_t>(extended), EngineErrorText, ErrorInfoText);
}

bool FreeRdpClient::WithFrame(const std::function<void(const FrameView&)>& use) const {
    return m_connection && m_connection->WithFrame(use);
}

void FreeRdpClient::SendKey(std::uint32_t xkbKeycode, bool down, bool repeat) {
    if (!m_connection) return;
    const DWORD vk = GetVirtualKeyCodeFromKeycode(xkbKeycode, WINPR_KEYCODE_TYPE_XKB);
    const DWORD scancode = GetVirtualScanCodeFromVirtualKeyCode(vk, WINPR_KBD_TYPE_IBM_ENHANCED);
    if (scancode == 0) return;
    m_connection->QueueInput({InputEvent::Kind::Key, scancode, down, repeat, 0, 0});
}

namespace {

std::uint16_t Clamp(int value, int size) {
    return static_cast<std::uint16_t>(std::clamp(value, 0, std::max(0, size - 1)));
}

}  // namespace

void FreeRdpClient::SendMouseMove(int x, int y) {
    if (!m_connection) return;
    m_connection->QueueInput(
        {InputEvent::Kind::Mouse, PTR_FLAGS_MOVE, false, false, Clamp(x, 65536), Clamp(y, 65536)});
}

void FreeRdpClient::SendMouseButton(Button button, bool down, int x, int y) {
    if (!m_connection) return;
    std::uint32_t flags = button == Button::Left    ? PTR_FLAGS_BUTTON1
                          : button == Button::Right ? PTR_FLAGS_BUTTON2
                                                    : PTR_FLAGS_BUTTON3;
    if (down) flags |= PTR_FLAGS_DOWN;
    m_connection->QueueInput(
        {InputEvent::Kind::Mouse, flags, down, false, Clamp(x, 65536), Clamp(y, 65536)});
}

void FreeRdpClient::SendWheel(int delta, bool horizontal, int x, int y) {
    if (!m_connection || delta == 0) return;
    // The protocol carries a 9-bit two's complement rotation; send large turns in pieces.
    while (delta != 0) {
        const int step = std::clamp(delta, -255, 255);
        delta -= step;
        std::uint32_t flags = horizontal ? PTR_FLAGS_HWHEEL : PTR_FLAGS_WHEEL;
        if (step < 0)
            flags |= PTR_FLAGS_WHEEL_NEGATIVE | (static_cast<std::uint32_t>(0x200 + step) & 0xFF);
        else
            flags |= static_cast<std::uint32_t>(step) & 0xFF;
        m_connection->QueueInput(
            {InputEvent::Kind::Mouse, flags, false, false, Clamp(x, 65536), Clamp(y, 65536)});
    }
}

void FreeRdpClient::SendLockState(bool capsLock, bool numLock, bool scrollLock) {
    if (!m_connection) return;
    std::uint32_t flags = 0;
    if (capsLock) flags |= KBD_SYNC_CAPS_LOCK;
    if (numLock) flags |= KBD_SYNC_NUM_LOCK;
    if (scrollLock) flags |= KBD_SYNC_SCROLL_LOCK;
    m_connection->QueueInput({InputEvent::Kind::Sync, flags, false, false, 0, 0});
}

void FreeRdpClient::SetLocalClipboardText(const std::string& text) {
    if (m_localClipboard == text) return;
    m_localClipboard = text;
    if (m_connection) m_connection->SetLocalClipboard(text);
}

void FreeRdpClient::RequestLeaveFullScreen() {
    if (m_values.containerHandledFullScreen) {
        Deliver([](RdpClientEvents& sink) { sink.OnRequestLeaveFullScreen(); });
    } else {
        put_FullScreen(VariantBool::False);
    }
}

void FreeRdpClient::RequestContainerMinimize() {
    Deliver([](RdpClientEvents& sink) { sink.OnRequestContainerMinimize(); });
}

std::uint32_t FreeRdpClient::get_DriveCount() {
    return static_cast<std::uint32_t>(m_drives.size());
}

RdpDrive& FreeRdpClient::DriveByIndex(std::uint32_t index) {
    if (index >= m_drives.size()) throw RdpError(static_cast<HResult>(0x80070057));
    return *m_drives[index];
}

void FreeRdpClient::NotifyRedirectDeviceChange(std::uintptr_t, std::intptr_t) {
    // The engine watches the mounts itself for drives plugged in later.
}

}  // namespace vandrelle
