// SPDX-License-Identifier: GPL-3.0-or-later
#include "XmlDocument.h"

#include <gtest/gtest.h>

#include <functional>

namespace vandrelle::test {
namespace {

// The parser keeps an element's leading text in the element itself; reading
// and editing must not tell that apart from a text node, and a save writes
// what the file held.
TEST(XmlTextTest, TextReadsAndEditsAlikeWhereverTheParserKeepsIt) {
    struct Row {
        const char* file;
        std::string text;  // of the root element, before the edit
        std::function<void(pugi::xml_node)> edit;
        const char* textAfter;
        const char* saved;
    };
    const auto set = [](const char* text) {
        return [text](pugi::xml_node a) { SetElementText(a, text); };
    };
    const Row rows[] = {
        {"<a>x</a>", "x", set(""), "", "<a />\n"},
        {"<a>x</a>", "x", set("y"), "y", "<a>y</a>\n"},
        {"<a />", "", set("y"), "y", "<a>y</a>\n"},
        {"<a>t<b>u</b>v<![CDATA[w]]></a>", "tuvw", set(""), "", "<a />\n"},
        {"<a>t<![CDATA[w]]></a>", "tw", set("v"), "v", "<a>v</a>\n"},
        // An empty element written across lines takes a child without turning
        // into mixed content.
        {"<a>\n  </a>", "\n  ", [](pugi::xml_node a) { AppendChildElement(a, "b"); }, "",
         "<a>\n  <b />\n</a>\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        pugi::xml_document doc;
        std::string error;
        ASSERT_TRUE(ParseDocument(doc, row.file, &error)) << error;
        const pugi::xml_node a = doc.document_element();
        EXPECT_EQ(ElementText(a), row.text);
        EXPECT_TRUE(ElementTextEquals(a, row.text));
        EXPECT_FALSE(ElementTextEquals(a, row.text + "."));
        row.edit(a);
        EXPECT_EQ(ElementText(a), row.textAfter);
        const std::string saved = SerializeDocument(doc);
        EXPECT_EQ(saved.substr(saved.find('\n') + 1), row.saved);
    }
}

}  // namespace
}  // namespace vandrelle::test
