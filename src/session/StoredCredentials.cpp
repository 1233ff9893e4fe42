// SPDX-License-Identifier: GPL-3.0-or-later
#include "StoredCredentials.h"

#include "KeyStore.h"
#include "RegistryText.h"

namespace vandrelle {
namespace {

constexpr std::string_view kClientKey = "Software\\Microsoft\\Terminal Server Client";
constexpr std::size_t kMaxUserName = 259;

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

std::optional<std::string> ReadHint(KeyStore& keys, std::string_view server) {
    if (auto key = keys.OpenKey(Hive::CurrentUser, std::string(kClientKey) + "\\UsernameHint")) {
        if (auto hint = ReadBoundedString(*key, server)) return hint;
    }
    const std::string serverKey = std::string(kClientKey) + "\\Servers\\" + std::string(server);
    if (auto key = keys.OpenKey(Hive::CurrentUser, serverKey)) {
        return ReadBoundedString(*key, "UsernameHint");
    }
    return std::nullopt;
}

// The account part of a user name: after the first backslash, else before
// the first at sign, else all of it.
std::string_view Account(std::string_view name) {
    if (const auto slash = name.find('\\'); slash != std::string_view::npos) {
        return name.substr(slash + 1);
    }
    return name.substr(0, name.find('@'));
}

// The first `units` UTF-16 units of a UTF-8 text.
std::string_view CutUnits(std::string_view text, std::size_t units) {
    std::size_t used = 0, i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (used + (len == 4 ? 2 : 1) > units) break;
        used += len == 4 ? 2 : 1;
        i += len;
    }
    return text.substr(0, std::min(i, text.size()));
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A password blob: UTF-16LE units, blob size / 2 of them, ending early at a NUL.
std::string BlobText(const std::vector<std::uint8_t>& blob) {
    std::string out;
    const std::size_t n = blob.size() / 2;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t u = blob[2 * i] | (blob[2 * i + 1] << 8);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            const std::uint32_t low = blob[2 * i + 2] | (blob[2 * i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;  // a lone surrogate half
        AppendUtf8(out, u);
    }
    return out;
}

}  // namespace

bool LookupStoredCredentials(KeyStore& keys, CredentialStore& credentials, std::string_view server,
                             std::string& user, std::string& password, std::string& domain) {
    const auto hint = ReadHint(keys, server);
    if (!hint) return false;
    if (const auto slash = hint->find('\\'); slash != std::string::npos) {
        user = hint->substr(slash + 1);
        if (!EqualNoCase(hint->substr(0, slash), server)) domain = hint->substr(0, slash);
    } else if (const auto at = hint->find('@'); at != std::string::npos) {
        user = hint->substr(0, at);
        if (!EqualNoCase(hint->substr(at + 1), server)) domain = hint->substr(at + 1);
    } else {
        user = *hint;
    }
    auto found = credentials.Enumerate("TERMSRV/" + std::string(server));
    if (!found) found = credentials.Enumerate(server);
    if (!found) return true;
    for (const Credential& c : *found) {
        if (!c.userName) continue;
        const std::string_view account = Account(CutUnits(*c.userName, kMaxUserName));
        if (EqualNoCase(account, user) && c.type == Credential::kGeneric && !c.blob.empty()) {
            password = BlobText(c.blob);
            break;
        }
    }
    return true;
}

}  // namespace vandrelle
