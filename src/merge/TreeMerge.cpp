// SPDX-License-Identifier: GPL-3.0-or-later
#include "TreeMerge.h"

#include "XmlDocument.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <set>

namespace vandrelle {
namespace {

constexpr std::string_view kServersKey = "Servers";
constexpr std::string_view kSettingsKey = "Settings";

bool IsTreeNode(pugi::xml_node e) {
    return IsElementNamed(e, "Group") || IsElementNamed(e, "Server");
}

// The element that holds a node's setting elements: a group and the servers
// element keep theirs in "Properties" (maybe missing), a server and Settings
// their own.
pugi::xml_node Holder(pugi::xml_node node) {
    if (IsElementNamed(node, "Group") || IsElementNamed(node, "Servers"))
        return FirstChildElement(node, "Properties");
    return node;
}

std::string NodeName(pugi::xml_node node) {
    const pugi::xml_node name =
        SelectElement(node, IsElementNamed(node, "Group") ? "Properties/Name" : "Name");
    return name ? ElementText(name) : std::string();
}

// A node's fields by element name; a name that occurs again gets "#2", "#3"...
struct Field {
    pugi::xml_node element;
    std::string text;
};
using Fields = std::map<std::string, Field>;

Fields FieldsOf(pugi::xml_node node) {
    Fields fields;
    if (!node) return fields;
    std::map<std::string, int> seen;
    for (pugi::xml_node e = Holder(node).first_child(); e; e = e.next_sibling()) {
        if (e.type() != pugi::node_element) continue;
        const std::string name = e.name();
        const int n = ++seen[name];
        fields[n == 1 ? name : name + "#" + std::to_string(n)] = {e, ElementText(e)};
    }
    return fields;
}

bool SameText(pugi::xml_node a, pugi::xml_node b) {
    if (const char* text = LoneText(b)) return ElementTextEquals(a, text);
    return ElementText(a) == ElementText(b);
}

pugi::xml_node NextElement(pugi::xml_node e) {
    while (e && e.type() != pugi::node_element) e = e.next_sibling();
    return e;
}

// Whether two nodes have the same fields in the same order: a walk without
// the maps FieldsOf builds, since most nodes of a large tree are unchanged.
bool SameFields(pugi::xml_node a, pugi::xml_node b) {
    pugi::xml_node ea = NextElement(Holder(a).first_child());
    pugi::xml_node eb = NextElement(Holder(b).first_child());
    for (; ea && eb; ea = NextElement(ea.next_sibling()), eb = NextElement(eb.next_sibling())) {
        if (std::strcmp(ea.name(), eb.name()) != 0 || !SameText(ea, eb)) return false;
    }
    return !ea && !eb;
}

struct Node {
    pugi::xml_node element;
    std::string label;  // names joined by " / ", for conflicts
};

// The nodes of a document by key (kind and names from the top), and each
// container's node children in document order.
struct Tree {
    std::map<std::string, Node> nodes;
    std::map<std::string, std::vector<std::string>> children;
    std::vector<std::string> order;  // every key, in document order

    explicit Tree(const pugi::xml_document& doc) {
        const pugi::xml_node root = doc.document_element();
        if (const pugi::xml_node servers = FirstChildElement(root, "Servers")) {
            Put(std::string(kServersKey), {servers, "Servers"});
            Add(std::string(kServersKey), servers, "");
        }
        if (const pugi::xml_node settings = FirstChildElement(root, "Settings"))
            Put(std::string(kSettingsKey), {settings, "Settings"});
    }

    const Node* Find(const std::string& key) const {
        const auto it = nodes.find(key);
        return it == nodes.end() ? nullptr : &it->second;
    }
    const std::vector<std::string>& ChildrenOf(const std::string& key) const {
        static const std::vector<std::string> kNone;
        const auto it = children.find(key);
        return it == children.end() ? kNone : it->second;
    }

private:
    void Put(const std::string& key, Node node) {
        nodes[key] = std::move(node);
        order.push_back(key);
    }

    void Add(const std::string& key, pugi::xml_node container, const std::string& label) {
        std::vector<std::string>& list = children[key];
        for (pugi::xml_node e = container.first_child(); e; e = e.next_sibling()) {
            if (!IsTreeNode(e)) continue;
            const std::string name = NodeName(e);
            std::string child = key + '\x1e' + (IsElementNamed(e, "Group") ? 'G' : 'S') + name;
            for (int n = 2; nodes.contains(child); ++n) child += "#" + std::to_string(n);
            const std::string childLabel = label.empty() ? name : label + " / " + name;
            Put(child, {e, childLabel});
            list.push_back(child);
            if (IsElementNamed(e, "Group")) Add(child, e, childLabel);
        }
    }
};

std::optional<std::string> TextOf(const Fields& fields, const std::string& key) {
    const auto it = fields.find(key);
    if (it == fields.end()) return std::nullopt;
    return it->second.text;
}

// Whether the node and everything below it are the same in both trees.
bool Same(const Tree& a, const Tree& b, const std::string& key) {
    const Node* na = a.Find(key);
    const Node* nb = b.Find(key);
    if (!na || !nb) return !na && !nb;
    const Fields fa = FieldsOf(na->element);
    const Fields fb = FieldsOf(nb->element);
    if (!std::ranges::equal(fa, fb, [](const auto& x, const auto& y) {
            return x.first == y.first && x.second.text == y.second.text;
        }))
        return false;
    const auto& ca = a.ChildrenOf(key);
    return ca == b.ChildrenOf(key) &&
           std::ranges::all_of(ca, [&](const std::string& c) { return Same(a, b, c); });
}

std::string ElementName(const std::string& fieldKey) {
    return fieldKey.substr(0, fieldKey.find('#'));
}

void SetField(pugi::xml_node node, const Fields& ours, const std::string& key,
              const std::optional<std::string>& text) {
    const auto it = ours.find(key);
    if (!text) {
        if (it != ours.end()) it->second.element.parent().remove_child(it->second.element);
        return;
    }
    if (it != ours.end()) {
        SetElementText(it->second.element, *text);
        return;
    }
    pugi::xml_node holder = Holder(node);
    if (!holder) {
        holder = IsElementNamed(node, "Group") ? node.prepend_child("Properties")
                                               : AppendChildElement(node, "Properties");
    }
    SetElementText(AppendChildElement(holder, ElementName(key)), *text);
}

void MergeFields(pugi::xml_node base, pugi::xml_node ours, pugi::xml_node theirs,
                 const std::string& label, std::vector<MergeConflict>& conflicts) {
    const Fields b = FieldsOf(base), o = FieldsOf(ours), t = FieldsOf(theirs);
    std::set<std::string> keys;
    for (const Fields* f : {&b, &o, &t})
        for (const auto& [key, field] : *f) keys.insert(key);
    for (const std::string& key : keys) {
        const auto bt = TextOf(b, key), ot = TextOf(o, key), tt = TextOf(t, key);
        if (ot == tt || tt == bt) continue;
        if (ot == bt) {
            SetField(ours, o, key, tt);
        } else {
            conflicts.push_back({label, ElementName(key)});
        }
    }
}

// Where a node of theirs goes in ours: after the nearest earlier sibling in
// theirs that ours has, else before ours' first node of that level.
pugi::xml_node InsertCopy(pugi::xml_node parent, pugi::xml_node copy, pugi::xml_node after) {
    if (after) return parent.insert_copy_after(copy, after);
    for (pugi::xml_node e = parent.first_child(); e; e = e.next_sibling()) {
        if (IsTreeNode(e)) return parent.insert_copy_before(copy, e);
    }
    return parent.append_copy(copy);
}

class Merger {
public:
    Merger(const pugi::xml_document& base, pugi::xml_document& ours,
           const pugi::xml_document& theirs)
        : m_ours(ours), m_b(base), m_o(ours), m_t(theirs) {}

    std::vector<MergeConflict> Run() {
        for (const std::string& key : m_o.order) {
            if (const Node* t = m_t.Find(key)) {
                const Node* b = m_b.Find(key);
                const Node& o = m_o.nodes.at(key);
                // Theirs changed nothing here, or made it as ours has it.
                if ((b && SameFields(b->element, t->element)) || SameFields(o.element, t->element))
                    continue;
                MergeFields(b ? b->element : pugi::xml_node(), o.element, t->element, o.label,
                            m_conflicts);
            }
        }
        pugi::xml_node root = m_ours.document_element();
        for (std::string_view special : {kServersKey, kSettingsKey}) {
            const Node* t = m_t.Find(std::string(special));
            if (t && !m_o.Find(std::string(special))) root.append_copy(t->element);
        }
        if (m_o.Find(std::string(kServersKey))) {
            BringTheirs(std::string(kServersKey));
            DropDeleted(std::string(kServersKey));
            Reorder(Tree(m_ours), std::string(kServersKey));
        }
        return std::move(m_conflicts);
    }

private:
    // Nodes theirs has and ours not: added by theirs, or deleted by ours
    // while theirs changed them.
    void BringTheirs(const std::string& container) {
        pugi::xml_node parent = m_o.Find(container)->element;
        pugi::xml_node previous;
        for (const std::string& key : m_t.ChildrenOf(container)) {
            if (const Node* o = m_o.Find(key)) {
                previous = o->element;
                BringTheirs(key);
                continue;
            }
            if (m_b.Find(key) && Same(m_b, m_t, key)) continue;
            previous = InsertCopy(parent, m_t.Find(key)->element, previous);
        }
    }

    // Nodes ours has and theirs deleted: gone unless ours changed them.
    void DropDeleted(const std::string& container) {
        for (const std::string& key : m_o.ChildrenOf(container)) {
            const Node& o = m_o.nodes.at(key);
            if (!m_t.Find(key) && m_b.Find(key) && Same(m_b, m_o, key)) {
                o.element.parent().remove_child(o.element);
                continue;
            }
            DropDeleted(key);
        }
    }

    bool Common(const std::string& key) const {
        return m_b.Find(key) && m_o.Find(key) && m_t.Find(key);
    }

    // Theirs' order of a level where ours kept the base's and theirs did not:
    // the nodes all three have take theirs' order; the others keep their places.
    void Reorder(const Tree& merged, const std::string& container) {
        for (const std::string& key : merged.ChildrenOf(container)) Reorder(merged, key);
        const auto common = [this](const std::vector<std::string>& keys) {
            std::vector<std::string> kept;
            std::ranges::copy_if(keys, std::back_inserter(kept),
                                 [this](const std::string& k) { return Common(k); });
            return kept;
        };
        const auto base = common(m_b.ChildrenOf(container));
        const auto theirs = common(m_t.ChildrenOf(container));
        if (common(m_o.ChildrenOf(container)) != base || theirs == base) return;
        pugi::xml_node parent = merged.Find(container)->element;
        auto next = theirs.begin();
        for (const std::string& key : merged.ChildrenOf(container))
            parent.append_move(merged.Find(Common(key) ? *next++ : key)->element);
    }

    pugi::xml_document& m_ours;
    const Tree m_b, m_o, m_t;
    std::vector<MergeConflict> m_conflicts;
};

}  // namespace

std::vector<MergeConflict> MergeTrees(const pugi::xml_document& base, pugi::xml_document& ours,
                                      const pugi::xml_document& theirs) {
    return Merger(base, ours, theirs).Run();
}

}  // namespace vandrelle
