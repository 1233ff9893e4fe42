// SPDX-License-Identifier: GPL-3.0-or-later
// A network link of the test's own that can fail: two network namespaces, a
// server's and a client's, joined by a pair of virtual Ethernet devices with
// addresses in a /30 that exists only inside them (no route out of either).
// The machine's own network is never touched; both namespaces go with the
// object. Faults are nftables rules and a token-bucket filter inside them.
//
//   NetLink link;                 // skip with NetLink::Unavailable() first
//   {   // a server started here listens in the server's namespace
//       NetLink::Inside inside(link.serverNamespace());
//       xrdp = std::make_unique<XrdpServer>(NetLink::kServerAddress);
//       // or ShadowServer({"-auth", "/bind-address:" + address}): the last one counts
//   }
//   NetLink::Inside inside(link.clientNamespace());  // for as long as the client lives
//   client.Connect();             // to kServerAddress
//   link.Cut(); ... link.Restore();
#pragma once

#include <string>

namespace vandrelle::test {

class NetLink {
public:
    NetLink();
    ~NetLink();
    NetLink(const NetLink&) = delete;
    NetLink& operator=(const NetLink&) = delete;

    bool ok() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }
    // Why this machine cannot make the link (no root, no namespaces, no nft),
    // or empty when it can.
    static std::string Unavailable();

    static constexpr const char* kServerAddress = "10.213.7.1";
    static constexpr const char* kClientAddress = "10.213.7.2";
    const std::string& serverNamespace() const { return m_server; }
    const std::string& clientNamespace() const { return m_client; }

    // The calling thread in one of the namespaces while this lives. What it
    // starts meanwhile stays there: child processes (a server started inside
    // the server's; xfreerdp3 inside the client's) and threads (the engine's
    // connection thread, made by a Connect() inside the client's). Sockets
    // keep the namespace they were made in. A client that connects again by
    // itself later must still be inside: keep the thread inside the client's
    // namespace for as long as the client lives, or its new connections go
    // out through the machine's own network.
    class Inside {
    public:
        explicit Inside(const std::string& name);
        ~Inside();
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;
        bool ok() const { return m_back >= 0 && m_entered; }

    private:
        int m_back = -1;  // the namespace the thread came from
        bool m_entered = false;
    };

    // Faults, each replacing the one before; false when a command failed.
    // Cut: every packet dropped, both ways.
    bool Cut();
    // `percent` of the packets dropped at random both ways, and each way
    // limited to `kbitPerSecond` (0: no limit).
    bool Lossy(int percent, int kbitPerSecond);
    // No fault: every packet passes again.
    bool Restore();

private:
    bool Run(const std::string& command);

    std::string m_server, m_client;
    std::string m_error;
};

}  // namespace vandrelle::test
