// SPDX-License-Identifier: GPL-3.0-or-later
#include "XmlDocument.h"

#include <cstdint>
#include <cstring>

namespace vandrelle {
namespace {

bool NameIs(pugi::xml_node node, std::string_view name) {
    // The name settles most comparisons; only a match needs the type (a
    // processing instruction may carry an element's name).
    const char* actual = node.name();
    if (name.empty() || actual[0] != name[0]) return false;
    if (std::strncmp(actual, name.data(), name.size()) != 0 || actual[name.size()] != '\0') {
        return false;
    }
    return node.type() == pugi::node_element;
}

bool IsText(pugi::xml_node node) {
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

bool IsBlank(const char* s) {
    for (; *s; ++s) {
        if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r') return false;
    }
    return true;
}

void DropLoneWhiteSpace(pugi::xml_node parent) {
    pugi::xml_node only = parent.first_child();
    if (!only && *parent.value() && IsBlank(parent.value())) {
        parent.text().set("");  // empties the element's own value
    } else if (only && !only.next_sibling() && only.type() == pugi::node_pcdata &&
               IsBlank(only.value())) {
        parent.remove_child(only);
    }
}

// Collects the text of an element's descendants in document order.
class TextCollector : public pugi::xml_tree_walker {
public:
    explicit TextCollector(std::string* out) : m_out(out) {}
    bool for_each(pugi::xml_node& node) override {
        if (IsText(node) || node.type() == pugi::node_element) m_out->append(node.value());
        return true;
    }

private:
    std::string* m_out;
};

// Finds the first element deeper than a number of levels below the walk's start.
class DepthFinder : public pugi::xml_tree_walker {
public:
    explicit DepthFinder(int levels) : m_levels(levels) {}
    bool for_each(pugi::xml_node& node) override {
        // depth() is 0 for the start's children.
        if (depth() < m_levels || node.type() != pugi::node_element) return true;
        m_found = node;
        return false;
    }
    pugi::xml_node found() const { return m_found; }

private:
    int m_levels;
    pugi::xml_node m_found;
};

// Where the text holds a character reference to U+0000 ("&#0;", "&#x00;",
// ...), or npos. XML does not allow that character, and pugixml would decode
// it as the end of the text and silently drop what follows.
std::size_t NullReferenceIn(std::string_view text) {
    for (std::size_t at = text.find("&#"); at != text.npos; at = text.find("&#", at + 2)) {
        std::size_t i = at + 2;
        if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) ++i;
        const std::size_t digits = i;
        while (i < text.size() && text[i] == '0') ++i;
        if (i > digits && i < text.size() && text[i] == ';') return at;
    }
    return text.npos;
}

// Finds the first such reference where pugixml decodes references: in text
// and in attribute values (not in comments, CDATA or processing
// instructions). Walks a document parsed without decoding, so that the values
// are the file's own characters.
class NullReferenceFinder : public pugi::xml_tree_walker {
public:
    bool for_each(pugi::xml_node& node) override {
        if (node.type() == pugi::node_pcdata) {
            const std::size_t at = NullReferenceIn(node.value());
            if (at != std::string_view::npos) {
                m_offset = node.offset_debug() + static_cast<std::ptrdiff_t>(at);
                return false;
            }
        }
        for (const pugi::xml_attribute attribute : node.attributes()) {
            if (NullReferenceIn(attribute.value()) != std::string_view::npos) {
                m_offset = node.offset_debug() - 1;  // the element's '<'
                return false;
            }
        }
        return true;
    }
    std::ptrdiff_t offset() const { return m_offset; }

private:
    std::ptrdiff_t m_offset = -1;
};

class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(std::string* out) : m_out(out) {}
    void write(const void* data, std::size_t size) override {
        const char* p = static_cast<const char*>(data);
        const char* end = p + size;
        while (p < end) {
            const void* cr = std::memchr(p, '\r', static_cast<std::size_t>(end - p));
            if (!cr) {
                m_out->append(p, end);
                break;
            }
            const char* at = static_cast<const char*>(cr);
            m_out->append(p, at);
            m_out->append("&#13;");
            p = at + 1;
        }
    }

private:
    std::string* m_out;
};

// Line and column (1-based) of a byte offset.
std::string Position(const std::string& bytes, std::ptrdiff_t offset) {
    std::size_t line = 1, column = 1;
    const std::size_t end = std::min<std::size_t>(static_cast<std::size_t>(offset), bytes.size());
    for (std::size_t i = 0; i < end; ++i) {
        if (bytes[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                 pugi::parse_declaration | pugi::parse_doctype |
                                 pugi::parse_ws_pcdata_single | pugi::parse_embed_pcdata;

// The offset of the first decoded reference to U+0000 in a document that
// parsed, or -1. A UTF-8 file without one anywhere in its bytes (nearly every
// file) costs a search; others are parsed once more without decoding.
std::ptrdiff_t NullReferenceOffset(const std::string& bytes, pugi::xml_encoding encoding) {
    if (encoding == pugi::encoding_utf8 && NullReferenceIn(bytes) == std::string::npos) return -1;
    pugi::xml_document raw;
    raw.load_buffer(
        bytes.data(), bytes.size(),
        kParseFlags & ~(pugi::parse_escapes | pugi::parse_eol | pugi::parse_embed_pcdata),
        pugi::encoding_auto);
    NullReferenceFinder finder;
    raw.traverse(finder);
    return finder.offset();
}

// Whether ParseDocument's checks hold for these bytes once the parser has
// decoded them where they lie: the bytes are UTF-8 (or another encoding ASCII
// is part of) and hold no reference to character 0 anywhere. Bytes in
// UTF-16 or UTF-32 start with a byte order mark or have a 0 among their first
// four bytes ("<" and "?" or an element's name, each one unit wide).
bool ParsesInPlace(std::string_view bytes) {
    if (bytes.size() < 4 || std::memchr(bytes.data(), 0, 4)) return false;
    const std::string_view head = bytes.substr(0, 2);
    return head != "\xFE\xFF" && head != "\xFF\xFE" && NullReferenceIn(bytes) == bytes.npos;
}

}  // namespace

// The parser keeps text that comes first inside an element in the element's
// own value, not in a node of its own (a third of the nodes of a typical
// file), so an element's value is text that precedes its children.
const char* LoneText(pugi::xml_node element) {
    const pugi::xml_node first = element.first_child();
    if (!first) return element.value();
    if (*element.value()) return nullptr;
    if (!first.next_sibling() && IsText(first)) return first.value();
    return nullptr;
}

pugi::xml_node FirstChildElement(pugi::xml_node parent, std::string_view name) {
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
        if (NameIs(c, name)) return c;
    }
    return {};
}

pugi::xml_node FirstChildElement(pugi::xml_node parent, const char* name) {
    // pugixml's own search is much faster than a loop over the public API; it
    // matches any node of that name, so a rare non-element match falls back.
    const pugi::xml_node found = parent.child(name);
    if (!found || found.type() == pugi::node_element) return found;
    return FirstChildElement(parent, std::string_view(name));
}

bool IsElementNamed(pugi::xml_node node, std::string_view name) {
    return NameIs(node, name);
}

pugi::xml_node SelectElement(pugi::xml_node from, std::string_view path) {
    const std::size_t slash = path.find('/');
    const std::string_view head = path.substr(0, slash);
    for (pugi::xml_node c = from.first_child(); c; c = c.next_sibling()) {
        if (!NameIs(c, head)) continue;
        if (slash == std::string_view::npos) return c;
        if (pugi::xml_node found = SelectElement(c, path.substr(slash + 1))) return found;
    }
    return {};
}

std::string ElementText(pugi::xml_node element) {
    if (const char* lone = LoneText(element)) return lone;
    std::string out = element.value();
    TextCollector collector(&out);
    element.traverse(collector);  // iterative: deep nesting costs no stack
    return out;
}

bool ElementTextEquals(pugi::xml_node element, std::string_view text) {
    if (const char* lone = LoneText(element)) return text == lone;
    return ElementText(element) == text;
}

void SetElementText(pugi::xml_node element, std::string_view text) {
    while (pugi::xml_node c = element.first_child()) element.remove_child(c);
    // Replaces the element's own value, or adds a text child when it has none;
    // empty text leaves neither, so the element is written "<Name />".
    if (*element.value() || !text.empty()) element.text().set(std::string(text).c_str());
}

pugi::xml_node AppendChildElement(pugi::xml_node parent, std::string_view name) {
    DropLoneWhiteSpace(parent);
    return parent.append_child(std::string(name).c_str());
}

void MoveToEnd(pugi::xml_node parent, pugi::xml_node node) {
    DropLoneWhiteSpace(parent);
    parent.append_move(node);
}

bool IsStorableText(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
            ++i;
            continue;
        }
        std::size_t len;
        std::uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[len] || cp > 0x10FFFF) return false;  // overlong or too large
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;         // surrogate halves
        if (cp == 0xFFFE || cp == 0xFFFF) return false;         // not characters in XML
        i += len;
    }
    return true;
}

int ElementDepth(pugi::xml_node node) {
    int depth = 0;
    for (; node.type() == pugi::node_element; node = node.parent()) ++depth;
    return depth;
}

pugi::xml_node FirstElementBelow(pugi::xml_node from, int levels) {
    DepthFinder finder(levels);
    from.traverse(finder);  // pugixml walks the tree iteratively
    return finder.found();
}

bool ParseDocument(pugi::xml_document& doc, const std::string& bytes, std::string* error) {
    const pugi::xml_parse_result result =
        doc.load_buffer(bytes.data(), bytes.size(), kParseFlags, pugi::encoding_auto);
    if (!result) {
        if (error) *error = Position(bytes, result.offset) + ": " + result.description();
        return false;
    }
    if (!doc.document_element()) {
        if (error) *error = "the document has no root element";
        return false;
    }
    if (const pugi::xml_node deep = FirstElementBelow(doc, kMaxElementDepth)) {
        // The offset is that of the element's name; its '<' comes just before.
        if (error) {
            *error = Position(bytes, deep.offset_debug() - 1) + ": elements nested deeper than " +
                     std::to_string(kMaxElementDepth) + " levels";
        }
        return false;
    }
    if (const std::ptrdiff_t at = NullReferenceOffset(bytes, result.encoding); at >= 0) {
        if (error) {
            *error = Position(bytes, at) + ": a reference to character 0, which XML does not allow";
        }
        return false;
    }
    return true;
}

bool LoadDocumentFile(pugi::xml_document& doc, const std::string& path, ContentDigest* digest,
                      std::string* error) {
    FileBytes bytes;
    if (!ReadFileBytes(path, &bytes, error)) return false;
    *digest = DigestOf(bytes.view());
    if (ParsesInPlace(bytes.view())) {
        const std::size_t size = bytes.size();
        // The document owns the memory from here on, whether the parse succeeds or not.
        if (doc.load_buffer_inplace_own(bytes.release(), size, kParseFlags, pugi::encoding_auto) &&
            doc.document_element() && !FirstElementBelow(doc, kMaxElementDepth))
            return true;
        // The parse changed the bytes it went over; the message needs them as they were.
        if (!ReadFileBytes(path, &bytes, error)) return false;
        *digest = DigestOf(bytes.view());
    }
    if (ParseDocument(doc, std::string(bytes.view()), error)) return true;
    if (error) *error = "cannot read " + path + ": " + *error;
    return false;
}

std::string SerializeDocument(const pugi::xml_document& doc) {
    std::string out;
    out.reserve(1 << 16);
    out += "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n";
    StringWriter writer(&out);
    for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_declaration) continue;
        n.print(writer, "  ", pugi::format_indent | pugi::format_no_declaration,
                pugi::encoding_utf8, 0);
    }
    return out;
}

}  // namespace vandrelle
