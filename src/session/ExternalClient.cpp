// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExternalClient.h"

#include "ConfigStore.h"
#include "Process.h"
#include "RegistryText.h"

#include <algorithm>
#include <cctype>

namespace vandrelle {
namespace {

// An IPv6 address (hex digits, dots and at least two colons, maybe a
// "%zone"), whose colons would otherwise be read as the port's.
bool IsIpv6Literal(std::string_view host) {
    const std::string_view address = host.substr(0, host.find('%'));
    if (std::count(address.begin(), address.end(), ':') < 2) return false;
    return std::all_of(address.begin(), address.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
    });
}

std::string HostForAddress(const std::string& host) {
    return IsIpv6Literal(host) ? "[" + host + "]" : host;
}

std::size_t CommandLineLength(const ExternalCommand& command) {
    std::size_t length = Utf16Length(command.program);
    for (const std::string& a : command.arguments) length += 1 + Utf16Length(a);
    return length;
}

}  // namespace

ExternalCommand BuildExternalCommand(const Properties& record, bool shiftDown,
                                     const std::string& program) {
    ExternalCommand command{program, {}};
    command.arguments.push_back("/v:" + HostForAddress(record.Server) + ":" +
                                std::to_string(record.RDPPort));
    if (record.DesktopWidth > 0 && record.DesktopHeight > 0) {
        command.arguments.push_back("/w:" + std::to_string(record.DesktopWidth));
        command.arguments.push_back("/h:" + std::to_string(record.DesktopHeight));
    }
    if (record.ConnectToServerConsole != 0) {
        command.arguments.push_back("/admin");
        command.arguments.push_back("/console");
    }
    if (record.FullScreen != 0 || shiftDown) command.arguments.push_back("/f");
    return command;
}

std::optional<std::string> FindExternalClient() {
    for (const std::string& name : kExternalClients) {
        if (auto found = FindProgramOnPath(name)) return found;
    }
    return std::nullopt;
}

ExternalCommand ExternalCommandFor(const CConfigStore& store, const NodePath& path,
                                   bool shiftDown) {
    pugi::xml_node node = store.FindNode(path);
    if (!node) throw ConfigError(kInvalidPointer, "no server " + path.ToString());
    Properties record;
    store.ReadProperties(node, record);
    return BuildExternalCommand(record, shiftDown,
                                FindExternalClient().value_or(kExternalClients.front()));
}

bool LaunchExternalClient(const CConfigStore& store, const NodePath& path, bool shiftDown,
                          std::string* error) {
    const auto program = FindExternalClient();
    if (!program) {
        if (error)
            *error = "No RDP client program (xfreerdp3, xfreerdp or sdl-freerdp3) is installed.";
        return false;
    }
    ExternalCommand command = ExternalCommandFor(store, path, shiftDown);
    command.program = *program;
    if (CommandLineLength(command) > kMaxCommandLine) {
        if (error) *error = "The command line would be longer than 4095 characters.";
        return false;
    }
    return StartDetached(command.program, command.arguments, error);
}

}  // namespace vandrelle
