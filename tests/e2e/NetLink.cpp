// SPDX-License-Identifier: GPL-3.0-or-later
#include "NetLink.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <utility>

namespace vandrelle::test {
namespace {

// The veth ends, one in each namespace: their names need not be unique on the machine.
constexpr const char* kServerEnd = "vl-srv";
constexpr const char* kClientEnd = "vl-cli";
constexpr const char* kTable = "vandrelle";

bool Succeeds(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string In(const std::string& name, const std::string& command) {
    return "ip netns exec " + name + " " + command;
}

}  // namespace

std::string NetLink::Unavailable() {
    if (::geteuid() != 0) return "making network namespaces needs root";
    for (const char* tool : {"ip", "nft", "tc", "ss"}) {
        if (!Succeeds(std::string("command -v ") + tool)) return std::string(tool) + " is missing";
    }
    const std::string probe = "vandrelle-probe-" + std::to_string(::getpid());
    if (!Succeeds("ip netns add " + probe)) return "no network namespace can be made here";
    const bool nft = Succeeds(In(probe, "nft add table inet probe"));
    Succeeds("ip netns del " + probe);
    return nft ? std::string() : "nftables does not work inside a network namespace here";
}

NetLink::NetLink() {
    static std::atomic<int> made{0};
    const std::string base =
        "vandrelle-" + std::to_string(::getpid()) + "-" + std::to_string(made++);
    m_server = base + "-srv";
    m_client = base + "-cli";
    m_error = Unavailable();
    if (!m_error.empty()) return;
    const std::string server = "ip -n " + m_server + " ", client = "ip -n " + m_client + " ";
    const std::string chain = std::string("add chain inet ") + kTable;
    for (const std::string& step :
         {"ip netns add " + m_server, "ip netns add " + m_client,
          server + "link add " + kServerEnd + " type veth peer name " + kClientEnd + " netns " +
              m_client,
          server + "addr add " + kServerAddress + "/30 dev " + kServerEnd,
          client + "addr add " + kClientAddress + "/30 dev " + kClientEnd,
          server + "link set lo up", server + "link set " + kServerEnd + " up",
          client + "link set lo up", client + "link set " + kClientEnd + " up",
          In(m_server, std::string("nft 'add table inet ") + kTable + "; " + chain +
                           " in { type filter hook input priority 0; }; " + chain +
                           " out { type filter hook output priority 0; }'")}) {
        if (!Run(step)) return;
    }
}

NetLink::~NetLink() {
    // Deleting a namespace that still holds processes only drops its name;
    // the veth pair goes with the last of them.
    Succeeds("ip netns del " + m_server);
    Succeeds("ip netns del " + m_client);
}

bool NetLink::Run(const std::string& command) {
    if (Succeeds(command)) return true;
    m_error += (m_error.empty() ? "" : "\n") + ("failed: " + command);
    return false;
}

bool NetLink::Cut() {
    return Lossy(100, 0);
}

bool NetLink::Lossy(int percent, int kbitPerSecond) {
    bool done = true;
    for (const auto& [name, end] : {std::pair{m_server, kServerEnd}, {m_client, kClientEnd}}) {
        const std::string qdisc = "tc -n " + name + " qdisc ";
        Succeeds(qdisc + "del dev " + end + " root");  // fails when there is none
        // A burst of a tenth of a second's worth; packets wait at most 400 ms.
        if (kbitPerSecond > 0) {
            done = Run(qdisc + "add dev " + end + " root tbf rate " +
                       std::to_string(kbitPerSecond) + "kbit burst " +
                       std::to_string(std::max(kbitPerSecond / 80, 2)) + "kb latency 400ms") &&
                   done;
        }
    }
    const std::string table = std::string(" inet ") + kTable + " ";
    std::string script = "flush chain" + table + "in; flush chain" + table + "out";
    if (percent > 0) {
        const std::string rule =
            (percent < 100 ? " numgen random mod 100 < " + std::to_string(percent) : "") + " drop";
        script += "; add rule" + table + "in" + rule + "; add rule" + table + "out" + rule;
    }
    return Run(In(m_server, "nft '" + script + "'")) && done;
}

bool NetLink::Restore() {
    return Lossy(0, 0);
}

NetLink::Inside::Inside(const std::string& name) {
    m_back = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    m_entered = m_back >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) ::close(target);
}

NetLink::Inside::~Inside() {
    if (m_back < 0) return;
    if (m_entered) ::setns(m_back, CLONE_NEWNET);
    ::close(m_back);
}

}  // namespace vandrelle::test
