// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigIndex.h"

#include "ConfigStore.h"
#include "NumberText.h"
#include "XmlDocument.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdlib>

namespace vandrelle {
namespace {

std::string ChildText(pugi::xml_node element, const char* name) {
    return ElementText(FirstChildElement(element, name));
}

std::string UserLocale() {
    for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return "";
}

// Case folded UTF-16, which the collator compares.
std::u16string Folded16(const std::string& utf8) {
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8WithSub(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()),
                         0xFFFD, nullptr, &error);
    std::u16string text(static_cast<std::size_t>(length), u'\0');
    error = U_ZERO_ERROR;
    u_strFromUTF8WithSub(text.data(), length, nullptr, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &error);
    std::u16string folded(text.size() * 3 + 1, u'\0');
    error = U_ZERO_ERROR;
    const int32_t n = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()), text.data(),
                                    static_cast<int32_t>(text.size()), U_FOLD_CASE_DEFAULT, &error);
    folded.resize(U_SUCCESS(error) ? static_cast<std::size_t>(n) : 0);
    return folded;
}

}  // namespace

std::string ElementLabel(pugi::xml_node node) {
    if (IsElementNamed(node, "Group")) return ElementText(SelectElement(node, "Properties/Name"));
    if (IsElementNamed(node, "Server")) return ChildText(node, "Name");
    return {};
}

// What a server that inherits its log-on gets depends on the groups above it
// alone: one resolution serves all the servers of a group.
const std::string& ServerFeeder::InheritedUser(pugi::xml_node element) {
    const auto [it, added] = m_inheritedUsers.try_emplace(element.parent().internal_object());
    if (added) {
        Properties inherited;
        m_store.ResolveInherited(element, inherited);
        it->second = inherited.UserName;
    }
    return it->second;
}

int ServerFeeder::Add(int group, pugi::xml_node element) {
    const pugi::xml_node inherit = FirstChildElement(element, "InheritGeneral");
    const bool inherits = !inherit || ParseNumber(ElementText(inherit)) != 0;  // as records read it
    const std::string user = inherits ? InheritedUser(element) : ChildText(element, "UserName");
    const std::string name = ChildText(element, "Name");
    const std::string host = ChildText(element, "Server");
    const std::string description = ChildText(element, "Description");
    return m_index.AddServer(group, {name, host, description, user});
}

LabelOrder::LabelOrder() {
    UErrorCode error = U_ZERO_ERROR;
    UCollator* collator = ucol_open(UserLocale().c_str(), &error);
    if (U_FAILURE(error)) return;
    ucol_setStrength(collator, UCOL_SECONDARY);
    m_collator = collator;
}

LabelOrder::~LabelOrder() {
    if (m_collator) ucol_close(static_cast<UCollator*>(m_collator));
}

bool LabelOrder::Less(const std::string& a, const std::string& b) const {
    const std::u16string fa = Folded16(a), fb = Folded16(b);
    if (!m_collator) return fa < fb;
    return ucol_strcoll(static_cast<const UCollator*>(m_collator), fa.data(),
                        static_cast<int32_t>(fa.size()), fb.data(),
                        static_cast<int32_t>(fb.size())) == UCOL_LESS;
}

IndexedConfig IndexConfig(const CConfigStore& store) {
    IndexedConfig out;
    ServerFeeder feeder(out.index, store);
    const LabelOrder order;
    struct Pending {
        pugi::xml_node node;
        std::string label;
        int group;
        NodePath path;  // of the node's parent
    };
    std::vector<Pending> stack;
    // Puts a level on the stack so that it comes off in the tree's order.
    const auto pushLevel = [&](pugi::xml_node parent, int group, const NodePath& path) {
        std::vector<Pending> level;
        for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
            std::string label = ElementLabel(child);
            if (!label.empty()) level.push_back({child, std::move(label), group, path});
        }
        std::stable_sort(level.begin(), level.end(), [&](const Pending& a, const Pending& b) {
            return order.Less(a.label, b.label);
        });
        stack.insert(stack.end(), std::make_move_iterator(level.rbegin()),
                     std::make_move_iterator(level.rend()));
    };
    pushLevel(store.ServersElement(), ServerIndex::kTop, NodePath());
    while (!stack.empty()) {
        Pending next = std::move(stack.back());
        stack.pop_back();
        NodePath path = next.path.Child(next.label);
        if (IsElementNamed(next.node, "Group")) {
            pushLevel(next.node, out.index.AddGroup(next.group, next.label), path);
        } else {
            feeder.Add(next.group, next.node);
            out.serverPaths.push_back(std::move(path));
        }
    }
    return out;
}

}  // namespace vandrelle
