// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileUtil.h"

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace vandrelle {

// Navigation and text over the configuration document. Only element nodes
// count as children here; comments, processing instructions and stray text
// are kept in the document but never matched.

// Whether the node is an element of that name (names are case-sensitive).
bool IsElementNamed(pugi::xml_node node, std::string_view name);

// The parent's first child element of that name, or a null node.
pugi::xml_node FirstChildElement(pugi::xml_node parent, std::string_view name);
pugi::xml_node FirstChildElement(pugi::xml_node parent, const char* name);

// The first element in document order that a relative path such as
// "Properties/Name" selects from `from`, or a null node.
pugi::xml_node SelectElement(pugi::xml_node from, std::string_view path);

// The text content of an element: all its text, CDATA included, in order.
std::string ElementText(pugi::xml_node element);

// The element's text content without a copy when it lies in one place (the
// usual case: an element holding text only), or null.
const char* LoneText(pugi::xml_node element);

// Whether the element's text content equals `text`, without building a copy
// in the usual case of a single text child.
bool ElementTextEquals(pugi::xml_node element, std::string_view text);

// Replaces everything inside the element by the text.
void SetElementText(pugi::xml_node element, std::string_view text);

// Appends a new element as the parent's last child. White space that stood
// alone inside the parent (an empty element written across lines) is dropped
// first, so that the parent does not turn into mixed content.
pugi::xml_node AppendChildElement(pugi::xml_node parent, std::string_view name);

// Moves `node` to the end of `parent`, with the same white-space rule.
void MoveToEnd(pugi::xml_node parent, pugi::xml_node node);

// True when the text can be stored in the file and read back unchanged:
// valid UTF-8 without the control characters that XML 1.0 forbids.
bool IsStorableText(std::string_view text);

// The deepest nesting of elements that is read or built (the root element is
// at level 1). A group takes one level and its name two more, so this leaves
// room for some 250 nested groups, far beyond any real tree; it is libxml2's
// default limit too. It bounds the stack of any recursive walk and the
// indentation a save writes (two spaces a level): without it, a small file of
// deeply nested elements would be saved hundreds of times larger.
inline constexpr int kMaxElementDepth = 256;

// How many elements enclose the node, itself included (the root element is at 1).
int ElementDepth(pugi::xml_node node);

// The first element in document order more than `levels` levels below `from`
// (its children are one level below), or a null node. Walks without recursion.
pugi::xml_node FirstElementBelow(pugi::xml_node from, int levels);

// Parses a file's bytes (any encoding pugixml detects; UTF-8 with or without
// a byte order mark in practice). A document nested deeper than
// kMaxElementDepth is refused. On failure returns false and a message naming
// the line and column.
bool ParseDocument(pugi::xml_document& doc, const std::string& bytes, std::string* error);

// Reads the file at `path` and parses it as ParseDocument does, reading it
// once into memory that the document then owns (the parser works in place).
// `digest` receives the digest of the bytes parsed. On failure returns false
// and a message: the read's, or "cannot read PATH: " and ParseDocument's.
bool LoadDocumentFile(pugi::xml_document& doc, const std::string& path, ContentDigest* digest,
                      std::string* error);

// The file's bytes: UTF-8 with a byte order mark, the declaration
// version="1.0" encoding="utf-8" standalone="yes", two spaces of indentation
// per level, LF line ends. Carriage returns inside text are written as
// character references so that they survive the parser's line-end
// normalisation and every text reads back exactly as it was written.
std::string SerializeDocument(const pugi::xml_document& doc);

}  // namespace vandrelle
