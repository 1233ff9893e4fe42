// SPDX-License-Identifier: GPL-3.0-or-later
// One connection attempt, which owns every engine object and runs on a
// worker thread of its own.
#pragma once

#include "ClipboardChannel.h"
#include "ConnectionEvents.h"
#include "EngineTypes.h"
#include "SessionCodecs.h"
#include "StaleLinks.h"

#include <freerdp/client/disp.h>
#include <freerdp/event.h>
#include <freerdp/freerdp.h>
#include <freerdp/transport_io.h>
#include <winpr/synch.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vandrelle {

// One input event for the worker to send.
struct InputEvent {
    enum class Kind { Key, Mouse, Sync } kind;
    std::uint32_t code = 0;  // scan code, or pointer flags, or lock flags
    bool down = false;
    bool repeat = false;
    std::uint16_t x = 0, y = 0;
};

// Made and driven on the user-interface thread, which it reports back to
// through `toOwner`. The engine calls its private callbacks on the worker
// thread and on threads of its own (painting, channels).
class FreeRdpConnection : public std::enable_shared_from_this<FreeRdpConnection> {
public:
    FreeRdpConnection(ConnectionValues values, ToOwner toOwner)
        : m_values(std::move(values)),
          m_toOwner(std::move(toOwner)),
          m_inputReady(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~FreeRdpConnection() {
        if (m_inputReady) CloseHandle(m_inputReady);
    }

    void SetLocalClipboard(std::string text) { m_clipboard.SetLocalText(std::move(text)); }

    void QueueInput(const InputEvent& event) {
        std::lock_guard lock(m_inputMutex);
        if (!m_active) return;
        m_input.push_back(event);
        SetEvent(m_inputReady);
    }

    // The desktop size to ask the server for, sent from the worker once the
    // server takes sizes (its display-control channel is open); a newer one
    // replaces one not sent yet.
    void RequestLayout(const DesktopLayout& layout) {
        std::lock_guard lock(m_inputMutex);
        m_layout = layout;
        SetEvent(m_inputReady);
    }

    // Runs the connection on a worker thread of its own.
    void Start();

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

    // Waits until every connection of the process has ended its worker
    // thread; false when time ran out.
    static bool WaitForAllToEnd(std::chrono::milliseconds timeout);
    // Asks every connection of the process to end, as Abort() does.
    static void AbortAll();

private:
    static FreeRdpConnection& Of(rdpContext* context);
    void Run();
    void EventLoop(rdpContext* context);
    bool ServeUntilLinkDies(rdpContext* context);
    int LinkSocket(const HANDLE* handles, DWORD count);
    bool ResumeLink(rdpContext* context);
    bool BeatMissed() const;
    static BOOL ServerHeartbeat(freerdp* instance, BYTE period, BYTE count1, BYTE count2);
    static void StopChannelThreads(rdpContext* context);
    bool Aborted();
    static BOOL ClientNew(freerdp* instance, rdpContext*);
    static BOOL PreConnect(freerdp* instance);
    static BOOL LoadChannels(freerdp* instance);
    static void ChannelConnected(void* ctx, const ChannelConnectedEventArgs* e);
    static void ChannelDisconnected(void* ctx, const ChannelDisconnectedEventArgs* e);
    static UINT DisplayControlCaps(DispClientContext* disp, UINT32 maxMonitors, UINT32 factorA,
                                   UINT32 factorB);
    void SendLayout();
    void DeferCodecs(rdpContext* context);
    static int TcpConnect(rdpContext* context, rdpSettings* settings, const char* host, int port,
                          DWORD timeout);
    static BOOL PostConnect(freerdp* instance);
    static void PostDisconnect(freerdp* instance);
    static void PostFinalDisconnect(freerdp* instance);
    static BOOL BeginPaint(rdpContext* context);
    static BOOL EndPaint(rdpContext* context);
    static BOOL DesktopResize(rdpContext* context);
    static BOOL DecompressBitmap(rdpContext* context, rdpBitmap* bitmap, const BYTE* data,
                                 UINT32 width, UINT32 height, UINT32 bpp, UINT32 length,
                                 BOOL compressed, UINT32 codecId);
    void SendInput(rdpContext* context);
    void SetActive(bool active);
    void CollectDirty(rdpContext* context);
    void AddDirty(FrameArea a);
    void CaptureFrame(rdpContext* context);
    void NotifyFrameChanged();
    template <typename Answer>
    Answer AskOnUiThread(std::function<Answer(ConnectionEvents&)> ask, Answer whenGone);
    static DWORD VerifyCertificate(freerdp* instance, const char* host, UINT16 port,
                                   const char* commonName, const char* subject, const char* issuer,
                                   const char* fingerprint, DWORD);
    static DWORD VerifyChangedCertificate(freerdp* instance, const char* host, UINT16 port,
                                          const char* commonName, const char* subject,
                                          const char* issuer, const char* fingerprint, const char*,
                                          const char*, const char*, DWORD);
    DWORD AskCertificate(const char* host, UINT16 port, const char* commonName, const char* subject,
                         const char* issuer, const char* fingerprint, bool changed);
    static BOOL Authenticate(freerdp* instance, char** user, char** password, char** domain,
                             rdp_auth_reason reason);

    ConnectionValues m_values;
    ToOwner m_toOwner;
    std::mutex m_mutex;  // guards m_context and m_abort
    rdpContext* m_context = nullptr;
    bool m_abort = false;
    std::recursive_mutex m_frameMutex;
    FrameView m_frame;
    int m_paintsBegun = 0;  // paints holding m_frameMutex, guarded by it
    FrameArea m_dirty;      // guarded by m_frameMutex
    std::atomic<bool> m_frameNoticePending{false};
    std::mutex m_inputMutex;  // guards m_input, m_active, m_layout, m_disp, m_dispReady
    std::vector<InputEvent> m_input;
    bool m_active = false;
    std::optional<DesktopLayout> m_layout;  // asked for, not sent yet
    DispClientContext* m_disp = nullptr;
    bool m_dispReady = false;  // the server sent the channel's capabilities
    // When the last layout went, and when the server answered it with a new size.
    std::optional<std::chrono::steady_clock::time_point> m_layoutSent;
    std::optional<std::chrono::steady_clock::time_point> m_layoutAnswered;
    HANDLE m_inputReady;
    // Worker only: the server's announced heartbeat (none until it sends
    // one), when it last beat, and whether the link died.
    std::chrono::seconds m_beatDeadline{0};
    std::chrono::steady_clock::time_point m_lastBeat;
    bool m_linkDied = false;
    HANDLE m_linkHandle = nullptr;  // the engine's handle of the TCP socket m_linkFd
    int m_linkFd = -1;
    std::optional<LinkAddresses> m_linkAddresses;  // of m_linkFd while it was connected
    std::vector<void*> m_plugins;  // add-in libraries, closed when the engine is gone
    ClipboardChannel m_clipboard{[this](std::string text) {
        m_toOwner(
            [text = std::move(text)](ConnectionEvents& owner) { owner.RemoteClipboardText(text); });
    }};
    pBeginPaint m_engineBeginPaint = nullptr;
    pEndPaint m_engineEndPaint = nullptr;
    pDesktopResize m_engineResize = nullptr;
    SessionCodecs m_codecs;  // worker only, as the bitmaps it decodes
    pBitmap_Decompress m_engineDecompress = nullptr;
    pTCPConnect m_engineTcpConnect = nullptr;
};

}  // namespace vandrelle
