// SPDX-License-Identifier: GPL-3.0-or-later
#include "FreeRdpConnection.h"

#include "DisconnectReason.h"
#include "EngineSettings.h"

#include <freerdp/channels/channels.h>
#include <freerdp/channels/cliprdr.h>
#include <freerdp/client.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/error.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/input.h>
#include <freerdp/primitives.h>
#include <openssl/provider.h>
#include <winpr/string.h>

#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <future>
#include <thread>

namespace vandrelle {
namespace {

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

struct ClientContext {
    rdpClientContext common;  // must come first: the engine allocates ContextSize bytes
    FreeRdpConnection* connection;
};

// The connections whose worker threads still run, so that a program can let
// them end before it exits. Never destroyed: a worker may end after the
// program's static objects are gone.
class LiveWorkers {
public:
    static LiveWorkers& Get() {
        static auto* live = new LiveWorkers;
        return *live;
    }
    void Started(const std::shared_ptr<FreeRdpConnection>& connection) {
        std::lock_guard lock(m_mutex);
        ++m_count;
        m_connections.push_back(connection);
    }
    // After the worker let its connection go.
    void Ended() {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_connections, [](const auto& c) { return c.expired(); });
        if (--m_count == 0) m_none.notify_all();
    }
    void AbortAll() {
        std::lock_guard lock(m_mutex);
        for (const auto& weak : m_connections) {
            if (const auto connection = weak.lock()) connection->Abort();
        }
    }
    bool WaitForNone(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_none.wait_for(lock, timeout, [this] { return m_count == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_none;
    int m_count = 0;
    std::vector<std::weak_ptr<FreeRdpConnection>> m_connections;
};

}  // namespace

bool FreeRdpConnection::WaitForAllToEnd(std::chrono::milliseconds timeout) {
    return LiveWorkers::Get().WaitForNone(timeout);
}

void FreeRdpConnection::AbortAll() {
    LiveWorkers::Get().AbortAll();
}

void FreeRdpConnection::Start() {
    LiveWorkers::Get().Started(shared_from_this());
    std::thread([self = shared_from_this()]() mutable {
        self->Run();
        self.reset();
        LiveWorkers::Get().Ended();
    }).detach();
}

FreeRdpConnection& FreeRdpConnection::Of(rdpContext* context) {
    return *reinterpret_cast<ClientContext*>(context)->connection;
}

bool FreeRdpConnection::Aborted() {
    std::lock_guard lock(m_mutex);
    return m_abort;
}

BOOL FreeRdpConnection::ClientNew(freerdp* instance, rdpContext*) {
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

BOOL FreeRdpConnection::PreConnect(freerdp* instance) {
    rdpContext* context = instance->context;
    if (instance->heartbeat) instance->heartbeat->ServerHeartbeat = ServerHeartbeat;
    PubSub_SubscribeChannelConnected(context->pubSub, ChannelConnected);
    PubSub_SubscribeChannelDisconnected(context->pubSub, ChannelDisconnected);
    return TRUE;
}

// Channels are loaded when the engine asks for them (again after a redirection).
BOOL FreeRdpConnection::LoadChannels(freerdp* instance) {
    if (!freerdp_client_load_channels(instance)) return FALSE;
    FreeRdpConnection& self = Of(instance->context);
    const auto report = [&self](const std::string& problem) {
        self.m_toOwner([problem](ConnectionEvents& owner) { owner.ReportProblem(problem); });
    };
    for (void* library : LoadAddIns(instance->context, self.m_values.pluginDlls, report))
        self.m_plugins.push_back(library);
    return TRUE;
}

// The clipboard and the display control are ours; every other channel is
// wired as the engine's own clients wire it.
void FreeRdpConnection::ChannelConnected(void* ctx, const ChannelConnectedEventArgs* e) {
    FreeRdpConnection& self = Of(static_cast<rdpContext*>(ctx));
    if (std::strcmp(e->name, CLIPRDR_SVC_CHANNEL_NAME) == 0) {
        self.m_clipboard.Attach(static_cast<CliprdrClientContext*>(e->pInterface));
    } else if (std::strcmp(e->name, DISP_DVC_CHANNEL_NAME) == 0) {
        auto* disp = static_cast<DispClientContext*>(e->pInterface);
        disp->custom = &self;
        disp->DisplayControlCaps = DisplayControlCaps;
        std::lock_guard lock(self.m_inputMutex);
        self.m_disp = disp;
        self.m_dispReady = false;
    } else {
        freerdp_client_OnChannelConnectedEventHandler(ctx, e);
    }
}

void FreeRdpConnection::ChannelDisconnected(void* ctx, const ChannelDisconnectedEventArgs* e) {
    FreeRdpConnection& self = Of(static_cast<rdpContext*>(ctx));
    if (std::strcmp(e->name, CLIPRDR_SVC_CHANNEL_NAME) == 0) {
        self.m_clipboard.Detach(static_cast<CliprdrClientContext*>(e->pInterface));
    } else if (std::strcmp(e->name, DISP_DVC_CHANNEL_NAME) == 0) {
        std::lock_guard lock(self.m_inputMutex);
        self.m_disp = nullptr;
        self.m_dispReady = false;
    } else {
        freerdp_client_OnChannelDisconnectedEventHandler(ctx, e);
    }
}

// The server's capabilities open the channel for layouts: a size asked for
// meanwhile goes now, on the worker.
UINT FreeRdpConnection::DisplayControlCaps(DispClientContext* disp, UINT32, UINT32, UINT32) {
    auto& self = *static_cast<FreeRdpConnection*>(disp->custom);
    {
        std::lock_guard lock(self.m_inputMutex);
        self.m_dispReady = true;
        SetEvent(self.m_inputReady);
    }
    self.m_toOwner([connection = self.shared_from_this()](ConnectionEvents& owner) {
        owner.DesktopResizable(*connection);
    });
    return CHANNEL_RC_OK;
}

// A server resizes by deactivating the session and activating it again at
// the new size; a layout that arrives meanwhile is lost, and xrdp may end
// the session on layouts that come too fast. So a layout waits for the
// answer to the last one (its new desktop size) and a little more, or a
// second for a server that kept its size.
constexpr auto kLayoutGap = std::chrono::milliseconds(200);
constexpr auto kLayoutAnswerTime = std::chrono::seconds(1);

// One monitor, the whole desktop; its physical size as a screen of 96 dots
// per inch at the given scale, which servers use to size their text.
void FreeRdpConnection::SendLayout() {
    DesktopLayout layout;
    DispClientContext* disp = nullptr;
    {
        std::lock_guard lock(m_inputMutex);
        if (!m_layout || !m_disp || !m_dispReady) return;
        const auto now = std::chrono::steady_clock::now();
        if (m_layoutAnswered ? now - *m_layoutAnswered < kLayoutGap
                             : m_layoutSent && now - *m_layoutSent < kLayoutAnswerTime)
            return;
        layout = *m_layout;
        m_layout.reset();
        m_layoutSent = now;
        m_layoutAnswered.reset();
        disp = m_disp;
    }
    const auto millimetres = [&](std::int32_t pixels) {
        return static_cast<UINT32>(pixels * 2540LL / (96LL * layout.desktopScale));
    };
    DISPLAY_CONTROL_MONITOR_LAYOUT monitor{};
    monitor.Flags = DISPLAY_CONTROL_MONITOR_PRIMARY;
    monitor.Width = static_cast<UINT32>(layout.width);
    monitor.Height = static_cast<UINT32>(layout.height);
    monitor.PhysicalWidth = millimetres(layout.width);
    monitor.PhysicalHeight = millimetres(layout.height);
    monitor.Orientation = ORIENTATION_LANDSCAPE;
    monitor.DesktopScaleFactor = static_cast<UINT32>(layout.desktopScale);
    monitor.DeviceScaleFactor = static_cast<UINT32>(layout.deviceScale);
    disp->SendMonitorLayout(disp, 1, &monitor);
}

// The engine leaves its decoders to the session until the connect's TCP
// connect, where the session makes only those it uses (see SessionCodecs).
void FreeRdpConnection::DeferCodecs(rdpContext* context) {
    const rdpTransportIo* engineIo = freerdp_get_io_callbacks(context);
    if (!engineIo || !engineIo->TCPConnect) return;
    rdpTransportIo io = *engineIo;
    m_engineTcpConnect = io.TCPConnect;
    io.TCPConnect = TcpConnect;
    if (freerdp_set_io_callbacks(context, &io)) m_codecs.Defer(context);
}

int FreeRdpConnection::TcpConnect(rdpContext* context, rdpSettings* settings, const char* host,
                                  int port, DWORD timeout) {
    FreeRdpConnection& self = Of(context);
    if (!self.m_codecs.MakeLean(context)) return -1;
    return self.m_engineTcpConnect(context, settings, host, port, timeout);
}

BOOL FreeRdpConnection::PostConnect(freerdp* instance) {
    FreeRdpConnection& self = Of(instance->context);
    // A connect that went without a TCP connect of its own still gets its decoders.
    if (!self.m_codecs.MakeLean(instance->context)) return FALSE;
    self.m_codecs.Trim(instance->context);
    {
        std::lock_guard lock(self.m_frameMutex);
        if (!gdi_init(instance, PIXEL_FORMAT_BGRX32)) return FALSE;
        self.CaptureFrame(instance->context);
    }
    // gdi_init registered the engine's bitmap class: bitmaps made from now on decode through ours.
    rdpBitmap* bitmap = instance->context->graphics->Bitmap_Prototype;
    self.m_engineDecompress = bitmap->Decompress;
    bitmap->Decompress = DecompressBitmap;
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
void FreeRdpConnection::PostDisconnect(freerdp* instance) {
    FreeRdpConnection& self = Of(instance->context);
    std::lock_guard lock(self.m_frameMutex);
    self.m_frame = {};
}

void FreeRdpConnection::PostFinalDisconnect(freerdp* instance) {
    FreeRdpConnection& self = Of(instance->context);
    std::lock_guard lock(self.m_frameMutex);
    self.m_frame = {};
    gdi_free(instance);
}

// Painting happens on engine threads; the frame lock keeps the user
// interface from reading a half-painted picture. The engine's paints are not
// always paired: resizing its picture ends a paint it never began, inside
// our own resize, which holds the lock. So the lock is recursive and an end
// lets go of a paint's hold only where a paint was begun: a stray end never
// lets the user interface draw from a picture the engine is replacing.
BOOL FreeRdpConnection::BeginPaint(rdpContext* context) {
    FreeRdpConnection& self = Of(context);
    self.m_frameMutex.lock();
    const BOOL ok = self.m_engineBeginPaint ? self.m_engineBeginPaint(context) : TRUE;
    if (ok) {
        ++self.m_paintsBegun;
    } else {
        self.m_frameMutex.unlock();
    }
    return ok;
}

BOOL FreeRdpConnection::EndPaint(rdpContext* context) {
    FreeRdpConnection& self = Of(context);
    const BOOL ok = self.m_engineEndPaint ? self.m_engineEndPaint(context) : TRUE;
    {
        std::lock_guard lock(self.m_frameMutex);
        self.CollectDirty(context);
        // Holding the lock, a begun paint can only be this thread's own.
        if (self.m_paintsBegun > 0) {
            --self.m_paintsBegun;
            self.m_frameMutex.unlock();
        }
    }
    self.NotifyFrameChanged();
    return ok;
}

// A bitmap update's picture may be larger than the planar decoder trimmed to a tile.
BOOL FreeRdpConnection::DecompressBitmap(rdpContext* context, rdpBitmap* bitmap, const BYTE* data,
                                         UINT32 width, UINT32 height, UINT32 bpp, UINT32 length,
                                         BOOL compressed, UINT32 codecId) {
    FreeRdpConnection& self = Of(context);
    if (compressed && !self.m_codecs.Fit(context, width, height)) return FALSE;
    return self.m_engineDecompress(context, bitmap, data, width, height, bpp, length, compressed,
                                   codecId);
}

// The server's new desktop size (after a resize it was asked for, or of its
// own accord) is the picture's: the engine leaves resizing it to the client.
BOOL FreeRdpConnection::DesktopResize(rdpContext* context) {
    FreeRdpConnection& self = Of(context);
    std::lock_guard lock(self.m_frameMutex);
    const rdpSettings* settings = context->settings;
    BOOL ok = gdi_resize(context->gdi, freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth),
                         freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight));
    if (ok && self.m_engineResize) ok = self.m_engineResize(context);
    {
        std::lock_guard input(self.m_inputMutex);
        self.m_layoutAnswered = std::chrono::steady_clock::now();
        SetEvent(self.m_inputReady);
    }
    self.CaptureFrame(context);
    self.AddDirty({0, 0, self.m_frame.width, self.m_frame.height});
    self.NotifyFrameChanged();
    return ok;
}

void FreeRdpConnection::SendInput(rdpContext* context) {
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

void FreeRdpConnection::SetActive(bool active) {
    std::lock_guard lock(m_inputMutex);
    m_active = active;
    if (!active) m_input.clear();
}

// The painted area: read and reset, as the engine leaves it to the client.
void FreeRdpConnection::CollectDirty(rdpContext* context) {
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

void FreeRdpConnection::AddDirty(FrameArea a) {
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

void FreeRdpConnection::CaptureFrame(rdpContext* context) {
    const rdpGdi* gdi = context->gdi;
    m_frame = {static_cast<int>(gdi->width), static_cast<int>(gdi->height),
               static_cast<int>(gdi->stride), gdi->primary_buffer};
}

void FreeRdpConnection::NotifyFrameChanged() {
    if (m_frameNoticePending.exchange(true)) return;  // one notice until it is taken
    m_toOwner([self = shared_from_this()](ConnectionEvents& owner) {
        FrameArea dirty;
        {
            std::lock_guard lock(self->m_frameMutex);
            dirty = self->m_dirty;
            self->m_dirty = {};
            self->m_frameNoticePending = false;
        }
        // Nothing is told of a paint that changed nothing, or of changes an
        // earlier notice took already.
        if (dirty.width > 0 && dirty.height > 0) owner.FrameChanged(dirty);
    });
}

template <typename Answer>
Answer FreeRdpConnection::AskOnUiThread(std::function<Answer(ConnectionEvents&)> ask,
                                        Answer whenGone) {
    auto promise = std::make_shared<std::promise<Answer>>();
    std::future<Answer> future = promise->get_future();
    // The task alone holds the promise: dropped unrun, it breaks the promise
    // and so ends the wait.
    m_toOwner([promise = std::move(promise), ask](ConnectionEvents& owner) {
        promise->set_value(ask(owner));
    });
    try {
        // The user may take long to answer; a Disconnect() meanwhile ends the wait.
        while (future.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
            if (Aborted()) return whenGone;
        }
        return future.get();
    } catch (const std::future_error&) {
        return whenGone;  // the owner went away without asking
    }
}

DWORD FreeRdpConnection::VerifyCertificate(freerdp* instance, const char* host, UINT16 port,
                                           const char* commonName, const char* subject,
                                           const char* issuer, const char* fingerprint, DWORD) {
    return Of(instance->context)
        .AskCertificate(host, port, commonName, subject, issuer, fingerprint, false);
}

DWORD FreeRdpConnection::VerifyChangedCertificate(freerdp* instance, const char* host, UINT16 port,
                                                  const char* commonName, const char* subject,
                                                  const char* issuer, const char* fingerprint,
                                                  const char*, const char*, const char*, DWORD) {
    return Of(instance->context)
        .AskCertificate(host, port, commonName, subject, issuer, fingerprint, true);
}

// The engine's texts may be missing; the question has them empty then.
DWORD FreeRdpConnection::AskCertificate(const char* host, UINT16 port, const char* commonName,
                                        const char* subject, const char* issuer,
                                        const char* fingerprint, bool changed) {
    const auto text = [](const char* t) { return std::string(t ? t : ""); };
    const CertificateQuestion q{text(host),    port,         text(commonName),
                                text(subject), text(issuer), text(fingerprint),
                                changed};
    return static_cast<DWORD>(AskOnUiThread<CertificateAnswer>(
        [q](ConnectionEvents& owner) { return owner.AskCertificate(q); },
        CertificateAnswer::Reject));
}

BOOL FreeRdpConnection::Authenticate(freerdp* instance, char** user, char** password, char** domain,
                                     rdp_auth_reason reason) {
    // Only credential security needs credentials before the session; with
    // TLS or RDP security the server asks on its own log-on screen.
    if (reason != AUTH_NLA) return TRUE;
    const LogonCredentials known{*user ? *user : "", *domain ? *domain : "",
                                 *password ? *password : ""};
    if (!known.user.empty() && !known.password.empty()) return TRUE;
    FreeRdpConnection& self = Of(instance->context);
    const std::string server = self.m_values.server;
    const auto answer = self.AskOnUiThread<std::optional<LogonCredentials>>(
        [server, known](ConnectionEvents& owner) { return owner.AskCredentials(server, known); },
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

void FreeRdpConnection::Run() {
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
        ApplySettings(context->settings, m_values);
        DeferCodecs(context);
        {
            std::lock_guard lock(m_mutex);
            m_context = context;
        }
        const bool connected = !Aborted() && freerdp_connect(context->instance) == TRUE;
        if (connected) {
            m_toOwner([self = shared_from_this()](ConnectionEvents& owner) { owner.Shown(*self); });
            SetActive(true);
            EventLoop(context);
            SetActive(false);
        }
        outcome.wasActive = connected;
        outcome.errorInfo = freerdp_error_info(context->instance);
        outcome.lastError = freerdp_get_last_error(context);
        outcome.localDisconnect = Aborted();
        outcome.linkDied = m_linkDied;
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
    m_toOwner([self = shared_from_this(), reason](ConnectionEvents& owner) {
        owner.Ended(*self, reason);
    });
}

// The engine's channels free their state when the connection ends without
// waiting for their own threads: the sound channel's thread, still handling a
// message that arrived just before a close, then reads a device already gone.
// Those threads stop taking work once the abort event is set, so it is set
// first and they get a moment to finish the message in hand. Nothing new
// reaches them meanwhile: channel data is read on this thread only.
void FreeRdpConnection::StopChannelThreads(rdpContext* context) {
    freerdp_abort_connect_context(context);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// A server that beats announces its period and after how many missed beats
// the client should reconnect; a beat (or any traffic: the server beats only
// when it has nothing else to send) restarts the count.
BOOL FreeRdpConnection::ServerHeartbeat(freerdp* instance, BYTE period, BYTE, BYTE count2) {
    FreeRdpConnection& self = Of(instance->context);
    self.m_lastBeat = std::chrono::steady_clock::now();
    self.m_beatDeadline = std::chrono::seconds(period) * std::max<int>(count2, 1);
    return TRUE;
}

bool FreeRdpConnection::BeatMissed() const {
    return m_beatDeadline.count() > 0 &&
           std::chrono::steady_clock::now() - m_lastBeat > m_beatDeadline;
}

// Runs the session until it ends. A link that dies on the way is resumed by
// the engine (with the server's auto-reconnect cookie, where it gave one).
void FreeRdpConnection::EventLoop(rdpContext* context) {
    while (ServeUntilLinkDies(context)) {
        m_linkDied = true;
        if (m_linkAddresses) StaleLinks::Get().Remember(*m_linkAddresses);
        if (!ResumeLink(context)) return;
        m_linkDied = false;
    }
}

namespace {

// The socket behind one of the engine's event handles, or -1.
int TcpSocketOf(HANDLE handle) {
    const int fd = GetEventFileDescriptor(handle);
    int protocol = 0;
    socklen_t size = sizeof(protocol);
    if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &size) != 0) return -1;
    return protocol == IPPROTO_TCP ? fd : -1;
}

// Whether the socket's pending error says that the link died: nothing came
// back within the user timeout or to the keep-alive probes, or the way to the
// server is gone. A server that closes or resets the connection (it ended the
// session, or its process died) is no dead link. Reading the error clears it;
// the engine then reads the end of the connection instead.
bool LinkDiedUnder(int fd) {
    int error = 0;
    socklen_t size = sizeof(error);
    if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return false;
    return error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH ||
           error == EHOSTDOWN || error == ENETDOWN;
}

}  // namespace

// The connection's TCP socket among the engine's handles, looked for again
// only when its handle is gone (after a resume). A new socket is a link that
// is up: connections to the same server whose link died before are reset.
int FreeRdpConnection::LinkSocket(const HANDLE* handles, DWORD count) {
    if (std::find(handles, handles + count, m_linkHandle) != handles + count) return m_linkFd;
    m_linkHandle = nullptr;
    m_linkFd = -1;
    for (DWORD i = 0; i < count && m_linkFd < 0; ++i) {
        m_linkFd = TcpSocketOf(handles[i]);
        if (m_linkFd >= 0) m_linkHandle = handles[i];
    }
    m_linkAddresses = AddressesOf(m_linkFd);
    if (m_linkAddresses) StaleLinks::Get().ResetTowards(*m_linkAddresses);
    return m_linkFd;
}

// Serves the session; true when its link died (and it was not ended).
bool FreeRdpConnection::ServeUntilLinkDies(rdpContext* context) {
    while (!freerdp_shall_disconnect_context(context)) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS] = {};
        handles[0] = m_inputReady;
        const DWORD count = freerdp_get_event_handles(context, handles + 1, ARRAYSIZE(handles) - 1);
        if (count == 0) break;
        const DWORD woken = WaitForMultipleObjects(count + 1, handles, FALSE, 100);
        if (woken == WAIT_FAILED) break;
        // Anything from the server counts as a beat.
        if (woken > WAIT_OBJECT_0 && woken <= WAIT_OBJECT_0 + count)
            m_lastBeat = std::chrono::steady_clock::now();
        const bool died = LinkDiedUnder(LinkSocket(handles + 1, count));
        SendInput(context);
        SendLayout();
        if (!freerdp_check_event_handles(context) || died || BeatMissed())
            return (died || BeatMissed()) && !Aborted() &&
                   freerdp_error_info(context->instance) == 0;
    }
    return false;
}

// The link is in doubt until the engine's resume brings it back: input is
// dropped, the picture kept, and the owner told both ways.
bool FreeRdpConnection::ResumeLink(rdpContext* context) {
    SetActive(false);
    m_toOwner([self = shared_from_this()](ConnectionEvents& owner) { owner.LinkInDoubt(*self); });
    const UINT32 tries =
        freerdp_settings_get_uint32(context->settings, FreeRDP_AutoReconnectMaxRetries);
    for (UINT32 i = 0; i < tries && !Aborted(); ++i) {
        if (freerdp_reconnect(context->instance) && !Aborted()) {
            m_codecs.Trim(context);  // the engine made its decoders again
            m_beatDeadline = {};     // the server announces its beat again
            SetActive(true);
            m_toOwner([self = shared_from_this()](ConnectionEvents& owner) {
                owner.LinkRestored(*self);
            });
            return true;
        }
    }
    return false;
}

}  // namespace vandrelle
