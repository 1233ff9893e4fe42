// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The floor of loading a configuration: what pugixml does by itself, with the
// parse options the program uses, and a walk over every node.

#include <pugixml.hpp>

#include <cstddef>
#include <string>

namespace vandrelle {

// The flags ParseDocument uses, so that the floor parses the same way.
constexpr unsigned kPlainParseFlags = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                      pugi::parse_declaration | pugi::parse_doctype |
                                      pugi::parse_ws_pcdata_single | pugi::parse_embed_pcdata;

// pugixml's own file loading: read once into a buffer it parses in place.
inline bool LoadPlain(pugi::xml_document& doc, const std::string& path) {
    return doc.load_file(path.c_str(), kPlainParseFlags, pugi::encoding_auto);
}

// Pre-order walk without recursion or a stack: down, then right, then up.
inline std::size_t CountElements(pugi::xml_node root) {
    std::size_t count = 0;
    pugi::xml_node n = root;
    while (n) {
        if (n.type() == pugi::node_element) ++count;
        if (pugi::xml_node down = n.first_child()) {
            n = down;
            continue;
        }
        while (n && n != root && !n.next_sibling()) n = n.parent();
        if (!n || n == root) break;
        n = n.next_sibling();
    }
    return count;
}

}  // namespace vandrelle
