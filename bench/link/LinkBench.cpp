// SPDX-License-Identifier: GPL-3.0-or-later
// How a session lives through a dead link: the engine client, then the
// reference client xfreerdp3 with its default settings, each against one xrdp
// server in a network namespace of the benchmark's own. Faults: the link to
// the client cut by a drop rule (both ways) while the user types (a key every
// 100 ms) and idle; the server stopped (SIGSTOP) with its connection open
// while the user types; 5% of the packets lost and 1 Mbit/s each way, for a
// minute while the user types. For each, seconds from the fault until the
// client declares the link dead (the engine client's session reports it lost
// and starts healing it; xfreerdp3 ends), and, once the fault ends (after at
// least 20 s), seconds until the remote picture (a clock that ticks every
// second) moves again, and for the engine client also until its session is
// connected again: xrdp shows the picture on the new connection only once it
// has let go of the dead one (its next probe on it draws a reset).
// Also counts the heartbeats the server sent to xfreerdp3, and, xrdp sending
// none, freezes a test server that beats every second (vandrelle-beating-server).
// Usage: bash bench/link/run.sh BUILD_DIR (as root, on a virtual display of its own)
#include "ConfigStore.h"
#include "FixedPrompts.h"
#include "FreeRdpClient.h"
#include "NetLink.h"
#include "Peers.h"
#include "RegFileKeyStore.h"
#include "Session.h"
#include "SessionMessages.h"
#include "SessionView.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace vandrelle;
using namespace vandrelle::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kFaultAtLeast = 20s;
constexpr auto kResumeLimit = 20s;
constexpr unsigned kShiftKey = 50;  // X key code of the left Shift: types nothing

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// One client under test, driven by the benchmark's thread.
class Peer {
public:
    virtual ~Peer() = default;
    virtual const char* Name() const = 0;
    // Connected, with the picture moving (or, without `picture`, only
    // connected); false with the reason printed.
    virtual bool Start(int port, bool picture = true) = 0;
    virtual bool Alive() = 0;  // false once the client has declared the session over
    // Whether the client has declared the link dead (it may be healing it).
    virtual bool LinkLost() { return !Alive(); }
    virtual void Type() = 0;
    // Lets the client run for about `time`, watching its picture.
    virtual void Pump(Clock::duration time) = 0;
    // When its picture last moved while the client was alive.
    Clock::time_point LastPicture() const { return m_picture; }
    // When its session last told it was connected again after a lost link
    // (the engine client only): the picture may follow later, as the server
    // lets go of its dead connection.
    Clock::time_point LastResume() const { return m_resumed; }

protected:
    Clock::time_point m_picture{};
    Clock::time_point m_resumed{};
};

// A session window without a window: its posts to itself (the healing's
// back-off and limit) are delivered when due by the benchmark's thread.
class TimedView : public SessionView {
public:
    Size ClientSize() const override { return {800, 600}; }
    Size PrimaryScreenSize() const override { return {1920, 1080}; }
    void EnterContainerFullScreen() override {}
    void LeaveContainerFullScreen() override {}
    bool IsContainerFullScreen() const override { return false; }
    void Relayout() override {}
    void ShowError(const std::string&) override {}
    void PostToSelf(std::uint32_t message, int delayMs, std::uintptr_t wParam) override {
        m_posts.push_back({Clock::now() + std::chrono::milliseconds(delayMs), message, wParam});
    }
    bool IsShiftDown() const override { return false; }
    std::intptr_t WindowId() const override { return 0; }

    void Deliver(Session& session) {
        std::vector<Post> due;
        const auto now = Clock::now();
        std::erase_if(m_posts, [&](const Post& p) {
            if (p.at > now) return false;
            due.push_back(p);
            return true;
        });
        for (const Post& p : due) {
            bool handled = false;
            session.HandleMessage(p.message, p.wParam, 0, handled);
        }
    }

private:
    struct Post {
        Clock::time_point at;
        std::uint32_t message;
        std::uintptr_t wParam;
    };
    std::vector<Post> m_posts;
};

class NoFrame : public MessageTarget {
public:
    void Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    std::intptr_t Send(std::uint32_t, std::uintptr_t, std::intptr_t) override { return 0; }
};

// The engine client under a session, which heals a lost link.
class VandrellePeer : public Peer {
public:
    VandrellePeer()
        : m_keys(m_work.file("registry.reg"), m_work.file("machine.reg")), m_config(m_keys) {
        m_config.Init();
        m_config.SetConfigPath(m_work.file("Vandrelle.xml"));
    }
    ~VandrellePeer() override {
        m_session.reset();
        m_client.reset();
        FreeRdpClient::WaitForConnectionsToEnd(10s);
    }
    const char* Name() const override { return "Vandrelle (engine client)"; }
    bool Start(int port, bool picture) override {
        m_client = std::make_unique<FreeRdpClient>(
            [this](std::function<void()> task) {
                std::lock_guard lock(m_mutex);
                m_tasks.push_back(std::move(task));
            },
            m_prompts);
        Properties record;
        record.Server = NetLink::kServerAddress;
        record.RDPPort = port;
        record.UserName = XrdpServer::kUser;
        record.Password = XrdpServer::kPassword;
        record.DesktopWidth = 800;
        record.DesktopHeight = 600;
        record.ColorDepth = 32;
        record.AudioRedirectionMode = 2;
        record.InheritGeneral = 0;
        m_session = std::make_unique<Session>(m_client.get(), m_view, m_frame, m_config, m_keys,
                                              record, NodePath({"bench"}));
        m_client->SetFrameChangedHandler([this](FrameArea) { m_picture = Clock::now(); });
        m_session->ConnectSession();
        const auto deadline = Clock::now() + 30s;
        // The session tells its states as the connection's events come, so
        // it is waited for by its picture alone, where there is one.
        const auto up = [&] {
            return picture ? m_picture != Clock::time_point{}
                           : m_session->State() == kStateConnected;
        };
        while (Clock::now() < deadline && !up()) Pump(50ms);
        if (up()) return true;
        std::fprintf(stderr, "%s: no picture (%s)\n", Name(),
                     m_client->CurrentValues().disconnectedText.c_str());
        return false;
    }
    bool Alive() override { return m_session->State() != kStateDisconnected; }
    bool LinkLost() override { return m_session->State() != kStateConnected; }
    void Type() override {
        m_client->SendKey(kShiftKey, true);
        m_client->SendKey(kShiftKey, false);
    }
    void Pump(Clock::duration time) override {
        const auto until = Clock::now() + time;
        do {
            std::deque<std::function<void()>> tasks;
            {
                std::lock_guard lock(m_mutex);
                tasks.swap(m_tasks);
            }
            for (auto& task : tasks) task();
            m_view.Deliver(*m_session);
            const std::int32_t state = m_session->State();
            if (state == kStateConnected && m_state == kStateReconnecting) m_resumed = Clock::now();
            m_state = state;
            std::this_thread::sleep_for(5ms);
        } while (Clock::now() < until);
    }

private:
    TempDir m_work;
    RegFileKeyStore m_keys;
    CConfigStore m_config;
    TimedView m_view;
    NoFrame m_frame;
    test::FixedPrompts m_prompts{CertificateAnswer::AcceptOnce};
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    std::unique_ptr<FreeRdpClient> m_client;
    std::unique_ptr<Session> m_session;
    std::int32_t m_state = kStateDisconnected;
};

// xfreerdp3 on the benchmark's display; its picture is the display's.
class ReferencePeer : public Peer {
public:
    explicit ReferencePeer(int* heartbeats) : m_heartbeats(heartbeats) {}
    ~ReferencePeer() override {
        m_process.reset();
        const std::string log = m_work.file("xfreerdp.log");
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            if (line.find("received Heartbeat PDU") != std::string::npos) ++*m_heartbeats;
        }
    }
    const char* Name() const override { return "xfreerdp3 (default settings)"; }
    bool Start(int port, bool picture) override {
        m_process = std::make_unique<ChildProcess>(
            std::vector<std::string>{
                "xfreerdp3",
                std::string("/v:") + NetLink::kServerAddress + ":" + std::to_string(port),
                "/u:" + std::string(XrdpServer::kUser), "/p:" + std::string(XrdpServer::kPassword),
                "/cert:ignore", "/size:800x600", "/audio-mode:2"},
            std::vector<std::string>{"WLOG_FILTER=com.freerdp.core.heartbeat:DEBUG"},
            m_work.file("xfreerdp.log"));
        m_window = Shell("timeout 30 xdotool search --sync --onlyvisible --pid " +
                         std::to_string(m_process->pid()) + " 2>/dev/null | head -1");
        if (m_window.empty()) {
            std::fprintf(stderr, "%s showed no window\n%s\n", Name(), Logs(m_work).c_str());
            return false;
        }
        Shell("xdotool windowfocus --sync " + m_window + " 2>/dev/null");
        if (!picture) return Alive();
        const auto deadline = Clock::now() + 30s;
        while (Clock::now() < deadline && m_picture == Clock::time_point{} && Alive()) Pump(50ms);
        return m_picture != Clock::time_point{};
    }
    bool Alive() override { return m_process->Running(); }
    void Type() override { Shell("xdotool key shift 2>/dev/null"); }
    void Pump(Clock::duration time) override {
        const auto until = Clock::now() + time;
        do {
            const std::string screen = Shell("xwd -root -silent 2>/dev/null | md5sum");
            if (!m_screen.empty() && screen != m_screen && Alive()) m_picture = Clock::now();
            m_screen = screen;
        } while (Clock::now() < until);
    }

private:
    int* m_heartbeats;
    TempDir m_work;
    std::unique_ptr<ChildProcess> m_process;
    std::string m_window, m_screen;
};

struct Figures {
    double dead = -1, resumed = -1, sessionBack = -1;
};

// Stops (SIGSTOP) the processes listening on a port in a namespace, with
// their connections open, until Thaw() or its end.
class Freezer {
public:
    explicit Freezer(std::string space) : m_namespace(std::move(space)) {}
    ~Freezer() { Thaw(); }
    bool Freeze(int port) {
        const std::string listeners = Shell("ip netns exec " + m_namespace +
                                            " ss -ltnpH 'sport = :" + std::to_string(port) + "'");
        for (const pid_t pid : NumbersAfter(listeners, "pid="))
            if (pid > 0 && ::kill(pid, SIGSTOP) == 0) m_frozen.push_back(pid);
        return !m_frozen.empty();
    }
    void Thaw() {
        for (const pid_t pid : m_frozen) ::kill(pid, SIGCONT);
        m_frozen.clear();
    }

private:
    std::string m_namespace;
    std::vector<pid_t> m_frozen;
};

// What goes wrong: the link cut (both ways) while the user types or not; the
// server stopped with its connections open while the user types; a slow,
// lossy but live link (which should never be declared dead).
struct Fault {
    enum Kind { Cut, Frozen, Lossy };
    const char* name;
    Kind kind;
    bool typing;
    Clock::duration limit;  // how long it waits for the end
};
constexpr Fault kFaults[] = {{"cut, typing", Fault::Cut, true, 40s},
                             {"cut, idle", Fault::Cut, false, 60s},
                             {"frozen, typing", Fault::Frozen, true, 40s},
                             {"5% lost, 1 Mbit/s", Fault::Lossy, true, 60s}};

bool Apply(NetLink& link, Freezer& freezer, int port, Fault::Kind kind) {
    switch (kind) {
        case Fault::Cut:
            return link.Cut();
        case Fault::Frozen:
            return freezer.Freeze(port);
        case Fault::Lossy:
            return link.Lossy(5, 1000);
    }
    return false;
}

// Connects, applies the fault (typing or not) until the session ends or the
// limit, keeps it for at least kFaultAtLeast, then mends it and waits for
// the picture to move.
std::optional<Figures> Measure(Peer& peer, NetLink& link, int port, const Fault& fault) {
    if (!peer.Start(port)) return std::nullopt;
    peer.Pump(2s);
    Figures figures;
    Freezer freezer(link.serverNamespace());
    if (!Apply(link, freezer, port, fault.kind)) return std::nullopt;
    const auto start = Clock::now();
    while (Clock::now() - start < fault.limit && !peer.LinkLost()) {
        if (fault.typing) peer.Type();
        peer.Pump(100ms);
    }
    if (peer.LinkLost()) figures.dead = Seconds(Clock::now() - start);
    while (Clock::now() - start < kFaultAtLeast) peer.Pump(100ms);
    freezer.Thaw();
    if (!link.Restore()) return std::nullopt;
    const auto back = Clock::now();
    while (Clock::now() - back < kResumeLimit && peer.LastPicture() < back) peer.Pump(100ms);
    if (peer.LastPicture() >= back) figures.resumed = Seconds(peer.LastPicture() - back);
    if (peer.LastResume() >= back) figures.sessionBack = Seconds(peer.LastResume() - back);
    return figures;
}

void Print(const char* who, const Fault& fault, const std::optional<Figures>& f) {
    char dead[64], resumed[64], back[64] = "";
    if (!f) {
        std::printf("%-30s %-18s (could not be measured)\n", who, fault.name);
        std::fflush(stdout);
        return;
    }
    if (f->dead >= 0) {
        std::snprintf(dead, sizeof dead, "%.1f s", f->dead);
    } else {
        std::snprintf(dead, sizeof dead, "not within %.0f s", Seconds(fault.limit));
    }
    if (f->resumed >= 0) {
        std::snprintf(resumed, sizeof resumed, "%.1f s", f->resumed);
    } else {
        std::snprintf(resumed, sizeof resumed, "did not resume within %.0f s",
                      Seconds(kResumeLimit));
    }
    if (f->sessionBack >= 0) {
        std::snprintf(back, sizeof back, " (session connected after %.1f s)", f->sessionBack);
    }
    std::printf("%-30s %-18s %-24s %s%s\n", who, fault.name, dead, resumed, back);
    std::fflush(stdout);
}

// A server that beats every second and freezes with its connection open,
// while the user types: seconds until the client declares the link dead.
void MeasureFrozenBeats(Peer& peer, BeatingServer& server) {
    constexpr auto kLimit = 20s;
    if (!peer.Start(server.port(), false) || (peer.Pump(3s), peer.LinkLost())) {
        std::printf("%-30s %-18s (could not be measured)\n", peer.Name(), "beating, frozen");
        return;
    }
    server.Freeze(true);
    const auto start = Clock::now();
    while (Clock::now() - start < kLimit && !peer.LinkLost()) {
        peer.Type();
        peer.Pump(100ms);
    }
    char dead[64];
    if (peer.LinkLost()) {
        std::snprintf(dead, sizeof dead, "%.1f s", Seconds(Clock::now() - start));
    } else {
        std::snprintf(dead, sizeof dead, "not within %.0f s", Seconds(kLimit));
    }
    std::printf("%-30s %-18s %-24s (the server stays frozen)\n", peer.Name(), "beating, frozen",
                dead);
    std::fflush(stdout);
    server.Freeze(false);
}

}  // namespace

int main() {
    for (const std::string& why : {NetLink::Unavailable(), XrdpServer::Unavailable()}) {
        if (!why.empty()) {
            std::fprintf(stderr, "cannot run here: %s\n", why.c_str());
            return 1;
        }
    }
    NetLink link;
    if (!link.ok()) {
        std::fprintf(stderr, "no link: %s\n", link.error().c_str());
        return 1;
    }
    std::unique_ptr<XrdpServer> server;
    {
        NetLink::Inside inside(link.serverNamespace());
        if (!inside.ok()) return 1;
        server = std::make_unique<XrdpServer>(NetLink::kServerAddress);
    }
    if (!server->ok()) {
        std::fprintf(stderr, "xrdp did not start: %s\n", server->error().c_str());
        return 1;
    }
    std::printf("%-30s %-18s %-24s %s\n", "client", "fault", "declared dead after",
                "picture moving after the fault ends");
    int heartbeats = 0;
    // The clients, and every connection they make, in the client's namespace.
    const NetLink::Inside client(link.clientNamespace());
    if (!client.ok()) return 1;
    for (const Fault& fault : kFaults) {
        {
            VandrellePeer peer;
            Print(peer.Name(), fault, Measure(peer, link, server->port(), fault));
        }
        link.Restore();
        ReferencePeer peer(&heartbeats);
        Print(peer.Name(), fault, Measure(peer, link, server->port(), fault));
        link.Restore();
    }
    std::printf("heartbeat PDUs xrdp sent to xfreerdp3 (which announces support): %d\n",
                heartbeats);

    // xrdp sends no heartbeats: a test server that does, in the same namespace.
    std::unique_ptr<BeatingServer> beating;
    {
        NetLink::Inside inside(link.serverNamespace());
        beating = std::make_unique<BeatingServer>(NetLink::kServerAddress);
    }
    if (!beating->ok()) {
        std::fprintf(stderr, "the beating server did not start: %s\n", beating->error().c_str());
        return 1;
    }
    {
        VandrellePeer peer;
        MeasureFrozenBeats(peer, *beating);
    }
    {
        ReferencePeer peer(&heartbeats);
        MeasureFrozenBeats(peer, *beating);
    }
    return 0;
}
