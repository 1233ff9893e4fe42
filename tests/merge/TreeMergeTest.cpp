// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFixture.h"
#include "RecordText.h"
#include "TreeMerge.h"
#include "TreeNotation.h"
#include "XmlDocument.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace vandrelle;

namespace {

// A document of a tree in the short notation.
std::unique_ptr<pugi::xml_document> Doc(std::string_view text) {
    auto doc = std::make_unique<pugi::xml_document>();
    EXPECT_TRUE(doc->load_string(test::TreeFile(text).c_str())) << text;
    return doc;
}

std::string Outline(pugi::xml_node parent) {
    std::string out;
    for (pugi::xml_node e = parent.first_child(); e; e = e.next_sibling()) {
        const bool group = IsElementNamed(e, "Group");
        if (!group && !IsElementNamed(e, "Server") && !IsElementNamed(e, "Settings")) continue;
        const pugi::xml_node holder = group ? e.child("Properties") : e;
        std::string fields;
        for (pugi::xml_node f = holder.first_child(); f; f = f.next_sibling()) {
            if (std::string_view(f.name()) == "Name") continue;
            fields += (fields.empty() ? "" : ",") + std::string(f.name()) + "=" + ElementText(f);
        }
        out +=
            (out.empty() ? "" : " ") +
            (IsElementNamed(e, "Settings") ? std::string("$") : ElementText(holder.child("Name"))) +
            (fields.empty() ? "" : "[" + fields + "]") + (group ? "{" + Outline(e) + "}" : "");
    }
    return out;
}

std::string Outline(const pugi::xml_document& doc) {
    const std::string servers = Outline(doc.document_element().child("Servers"));
    const std::string settings = Outline(doc.document_element());
    return servers.empty() || settings.empty() ? servers + settings : servers + " " + settings;
}

struct Row {
    const char* name;
    const char* base;
    const char* ours;
    const char* theirs;
    const char* merged;
    const char* conflicts = "";  // "node:field" joined by spaces
};

}  // namespace

TEST(TreeMergeTest, NodeByNodeAndFieldByField) {
    const Row rows[] = {
        {"unchanged", "A[Server=h]", "A[Server=h]", "A[Server=h]", "A[Server=h]"},
        {"disjoint fields of one node", "A[Server=h,Description=d]", "A[Server=h2,Description=d]",
         "A[Server=h,Description=e]", "A[Server=h2,Description=e]"},
        {"a field only theirs has, and one theirs dropped", "A[Server=h,Domain=x]",
         "A[Server=h,Domain=x]", "A[Server=h,RDPPort=1]", "A[Server=h,RDPPort=1]"},
        {"the same change on both sides", "A[Server=h]", "A[Server=k]", "A[Server=k]",
         "A[Server=k]"},
        {"the same field changed differently keeps ours", "A[Server=h] G[Description=a]{}",
         "A[Server=ours] G[Description=b]{}", "A[Server=theirs] G[Description=c]{}",
         "A[Server=ours] G[Description=b]{}", "A:Server G:Description"},
        {"both add, each after its predecessor", "A B", "A X B", "A B Y", "A X B Y"},
        {"both add the same node with different fields", "", "N[Server=1]", "N[Server=2]",
         "N[Server=1]", "N:Server"},
        {"a rename on one side is a delete and an add", "A[Server=h] B", "C[Server=h] B",
         "A[Server=h] B[Server=z]", "C[Server=h] B[Server=z]"},
        {"deleted by theirs, unchanged by ours: gone", "A B", "A B", "B", "B"},
        {"deleted by ours, unchanged by theirs: gone", "A B", "B", "A B", "B"},
        {"deleted by theirs, changed by ours: kept changed", "A[Server=h] B", "A[Server=k] B", "B",
         "A[Server=k] B"},
        {"deleted by ours, changed by theirs: kept changed", "A[Server=h] B", "B", "A[Server=k] B",
         "A[Server=k] B"},
        {"a group deleted by theirs keeps what ours changed in it, not the rest",
         "G{A[Server=h] B}", "G{A[Server=k] B}", "", "G{A[Server=k]}"},
        {"a group deleted by ours comes back with what theirs added in it", "G{A} Z", "Z",
         "G{A N} Z", "G{A N} Z"},
        {"nested groups", "G{H{A[Server=1]}}", "G{H{A[Server=2]} B}",
         "G[Description=d]{H{A[Server=1] C}}", "G[Description=d]{H{A[Server=2] C} B}"},
        {"a move is a delete and an add", "G{A} H{}", "G{} H{A}", "G{A} H{}", "G{} H{A}"},
        {"theirs reordered a level ours kept", "A B C", "A B C N", "C A B", "C A B N"},
        {"ours reordered: ours' order stays", "A B C", "C B A", "B A C", "C B A"},
        {"settings merge like fields", "$[CloseTabOnLogOff=0,StatusBarVisible=1]",
         "$[CloseTabOnLogOff=1,StatusBarVisible=1]", "$[CloseTabOnLogOff=0,StatusBarVisible=0]",
         "$[CloseTabOnLogOff=1,StatusBarVisible=0]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto base = Doc(row.base), ours = Doc(row.ours), theirs = Doc(row.theirs);
        ASSERT_EQ(Outline(*Doc(row.merged)), row.merged) << "the row's notation reads back";
        std::string conflicts;
        for (const MergeConflict& c : MergeTrees(*base, *ours, *theirs))
            conflicts += (conflicts.empty() ? "" : " ") + c.node + ":" + c.field;
        EXPECT_EQ(Outline(*ours), row.merged);
        EXPECT_EQ(conflicts, row.conflicts);
    }
}

TEST(TreeMergeTest, WhatOursHoldsBesideTheTreeStays) {
    const auto base = Doc("A"), ours = Doc("A[Extra=x]"), theirs = Doc("A B");
    ours->document_element().prepend_child(pugi::node_comment).set_value(" kept ");
    EXPECT_TRUE(MergeTrees(*base, *ours, *theirs).empty());
    EXPECT_NE(SerializeDocument(*ours).find("<!-- kept -->"), std::string::npos);
    EXPECT_EQ(Outline(*ours), "A[Extra=x] B");
}

// Two stores on one file: a field both changed keeps ours, names the
// conflict and keeps the version on disk beside the file.
class SaveMergeTest : public test::ConfigFixture {};

TEST_F(SaveMergeTest, aFieldBothChangedIsNamedAndTheDiskVersionKept) {
    ASSERT_TRUE(LoadXml(test::TreeFile("A[Server=a]")));
    auto other = NewStore();
    ASSERT_TRUE(other->Load(dir.file("Vandrelle.xml")));
    store->SetDiskMerge(MergeTrees);
    ASSERT_TRUE(other->UpdateServer(NodePath({"A"}), test::RecordFrom("Name=A Server=from-other")));
    ASSERT_TRUE(store->UpdateServer(NodePath({"A"}), test::RecordFrom("Name=A Server=from-store")));
    ASSERT_EQ(store->MergeConflicts().size(), 1u);
    EXPECT_EQ(store->MergeConflicts()[0].node + ":" + store->MergeConflicts()[0].field, "A:Server");
    EXPECT_TRUE(store->KeptChangedCopy().ends_with(".changed")) << store->KeptChangedCopy();
    EXPECT_NE(test::ReadFile(store->KeptChangedCopy()).find("from-other"), std::string::npos);
}
