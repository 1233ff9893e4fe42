// SPDX-License-Identifier: GPL-3.0-or-later
#include "QuickConnect.h"

#include "HostPort.h"
#include "Utf16.h"

#include <climits>
#include <cwctype>

namespace vandrelle {
namespace {

bool IsSpace(char16_t c) {
    return std::iswspace(static_cast<std::wint_t>(c)) != 0;
}

// The C library's reading of a decimal number, limited to the range of an int.
int ReadPort(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

std::optional<Properties> QuickConnectRecord(std::u16string_view text, bool console,
                                             std::string* problem) {
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    const std::string typed = Utf16ToUtf8(text);
    const HostPort split = SplitHostPort(typed);
    const int port = split.port ? ReadPort(*split.port) : 0;
    if (port < 0 || port > 65535) {
        if (problem) *problem = kPortRangeMessage;
        return std::nullopt;
    }
    Properties record;
    record.Name = record.Server = std::string(split.host);
    if (port != 0) record.RDPPort = port;
    record.ConnectToServerConsole = console ? 1 : 0;
    record.InheritGeneral = 0;
    return record;
}

}  // namespace vandrelle
