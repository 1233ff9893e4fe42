// SPDX-License-Identifier: GPL-3.0-or-later
#include "GenerateConfig.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace vandrelle {
namespace {

// Every text written here is built from letters, digits, '-', '.', ' ' and
// the Base64 alphabet, so nothing needs escaping.
class XmlText {
public:
    explicit XmlText(std::string* out) : m_out(out) {}

    void Open(const char* name) {
        Indent();
        *m_out += '<';
        *m_out += name;
        *m_out += ">\n";
        ++m_depth;
    }
    void Close(const char* name) {
        --m_depth;
        Indent();
        *m_out += "</";
        *m_out += name;
        *m_out += ">\n";
    }
    // An element holding only text; empty text gives "<Name />" as Save writes it.
    void Leaf(const char* name, const std::string& text) {
        Indent();
        *m_out += '<';
        *m_out += name;
        if (text.empty()) {
            *m_out += " />\n";
            return;
        }
        *m_out += '>';
        *m_out += text;
        *m_out += "</";
        *m_out += name;
        *m_out += ">\n";
    }
    void Leaf(const char* name, int number) { Leaf(name, std::to_string(number)); }

private:
    void Indent() { m_out->append(static_cast<std::size_t>(m_depth) * 2, ' '); }

    std::string* m_out;
    int m_depth = 0;
};

struct Generator {
    const GeneratedShape& shape;
    const PasswordKey& key;
    XmlText xml;
    int nextGroup = 0;  // groups numbered in document order

    void Logon(const std::string& user, const std::string& password) {
        xml.Leaf("UserName", user);
        xml.Leaf("Domain", "CORP");
        xml.Leaf("Password", EncodePassword(password, key));
        xml.Leaf("RDPPort", 3389);
    }

    void OpenGroup(int siblingIndex) {
        const int g = nextGroup++;
        const int inherit = g % 2;
        xml.Open("Group");
        xml.Open("Properties");
        xml.Leaf("Name", "Group " + std::to_string(siblingIndex + 1));
        xml.Leaf("Description", g % 7 == 0 ? "Site " + std::to_string(g) : std::string());
        xml.Leaf("InheritGeneral", inherit);
        if (inherit == 0) Logon("admin-" + std::to_string(g), "gpw-" + std::to_string(g));
        xml.Leaf("GroupCollapsed", 0);
        xml.Close("Properties");
    }

    void Server(int s) {
        char name[32];
        std::snprintf(name, sizeof name, "srv-%05d", s);
        const int inherit = s % 2;
        xml.Open("Server");
        xml.Leaf("Name", name);
        xml.Leaf("Description", s % 5 == 0 ? "Rack " + std::to_string(s / 5) : std::string());
        xml.Leaf("Server", std::string(name) + ".example.test");
        xml.Leaf("InheritGeneral", inherit);
        if (inherit == 0) Logon("user-" + std::to_string(s), "pw-" + std::to_string(s));
        xml.Leaf("ConnectToServerConsole", 0);
        xml.Leaf("DesktopHeight", 0);
        xml.Leaf("DesktopWidth", 0);
        xml.Leaf("ColorDepth", 16);
        xml.Leaf("FullScreen", 0);
        xml.Leaf("RedirectPrinters", 0);
        xml.Leaf("RedirectClipboard", 1);
        xml.Leaf("RedirectPorts", 0);
        xml.Leaf("RedirectSmartCards", 0);
        xml.Leaf("RedirectDrives", 0);
        xml.Leaf("DriveCollection", std::string());
        xml.Leaf("AudioRedirectionMode", 0);
        xml.Leaf("KeyboardHookMode", 1);
        xml.Leaf("PerformanceFlags", 384);
        xml.Leaf("BitmapPersistence", 1);
        xml.Close("Server");
    }
};

// Splits `items` into `parts` contiguous runs whose sizes differ by at most
// one; returns the first index of each run followed by `items`.
std::vector<int> Split(int items, int parts) {
    std::vector<int> starts;
    starts.reserve(static_cast<std::size_t>(parts) + 1);
    for (int p = 0; p <= parts; ++p) {
        starts.push_back(static_cast<int>(static_cast<long long>(items) * p / parts));
    }
    return starts;
}

}  // namespace

PasswordKey GeneratedConfigKey() {
    PasswordKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0x5A ^ i * 17);
    return key;
}

std::string GenerateConfigXml(const GeneratedShape& shape, const PasswordKey& key) {
    if (shape.groups < 3) throw std::invalid_argument("a generated configuration needs 3 groups");
    if (shape.servers < 0) throw std::invalid_argument("the server count must not be negative");

    // Level sizes: about the cube root of the total at the top, then about as
    // many middle groups per top group as bottom groups per middle group
    // (1,000 groups give 10, 90 and 900).
    const int total = shape.groups;
    const int top = std::max(1, static_cast<int>(std::lround(std::cbrt(total))));
    int middle = std::max(1, static_cast<int>(std::lround((total - top) / (top + 1.0))));
    middle = std::min(middle, total - top - 1);
    const int bottom = total - top - middle;

    const std::vector<int> middleStarts = Split(middle, top);
    const std::vector<int> bottomStarts = Split(bottom, middle);
    const std::vector<int> serverStarts = Split(shape.servers, bottom);

    std::string out;
    out.reserve(static_cast<std::size_t>(shape.servers) * 1100 +
                static_cast<std::size_t>(total) * 400);
    out += "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n";
    Generator gen{shape, key, XmlText(&out), 0};
    gen.xml.Open("Vandrelle");
    gen.xml.Open("Servers");
    for (int t = 0; t < top; ++t) {
        gen.OpenGroup(t);
        const int firstMiddle = middleStarts[static_cast<std::size_t>(t)];
        for (int m = firstMiddle; m < middleStarts[static_cast<std::size_t>(t) + 1]; ++m) {
            gen.OpenGroup(m - firstMiddle);
            const int firstBottom = bottomStarts[static_cast<std::size_t>(m)];
            for (int b = firstBottom; b < bottomStarts[static_cast<std::size_t>(m) + 1]; ++b) {
                gen.OpenGroup(b - firstBottom);
                for (int s = serverStarts[static_cast<std::size_t>(b)];
                     s < serverStarts[static_cast<std::size_t>(b) + 1]; ++s) {
                    gen.Server(s);
                }
                gen.xml.Close("Group");
            }
            gen.xml.Close("Group");
        }
        gen.xml.Close("Group");
    }
    gen.xml.Close("Servers");
    gen.xml.Leaf("Settings", std::string());
    gen.xml.Close("Vandrelle");
    return out;
}

}  // namespace vandrelle
