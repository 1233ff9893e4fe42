// SPDX-License-Identifier: GPL-3.0-or-later
// Three-way merges of trees, a store's merge on save, and two writers that
// share one file without taking turns of their own.
#include "ConfigFixture.h"
#include "RecordText.h"
#include "TreeMerge.h"
#include "TreeNotation.h"
#include "XmlDocument.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>

namespace vandrelle::test {
namespace {

// A document of a tree in the short notation.
std::unique_ptr<pugi::xml_document> Doc(std::string_view text) {
    auto doc = std::make_unique<pugi::xml_document>();
    EXPECT_TRUE(doc->load_string(TreeFile(text).c_str())) << text;
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

TEST(TreeMergeTest, NodeByNodeAndFieldByField) {
    const Row rows[] = {
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
        {"what ours holds beside the tree stays", "A", "A[Extra=x]", "A B", "A[Extra=x] B"},
        {"deleted by theirs, changed by ours: kept changed", "A[Server=h] B", "A[Server=k] B", "B",
         "A[Server=k] B"},
        {"a group deleted by theirs keeps what ours changed in it, not the rest",
         "G{A[Server=h] B}", "G{A[Server=k] B}", "", "G{A[Server=k]}"},
        {"a group deleted by ours comes back with what theirs added in it", "G{A} Z", "Z",
         "G{A N} Z", "G{A N} Z"},
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
        std::string conflicts;
        for (const MergeConflict& c : MergeTrees(*base, *ours, *theirs))
            conflicts += (conflicts.empty() ? "" : " ") + c.node + ":" + c.field;
        EXPECT_EQ(Outline(*ours), row.merged);
        EXPECT_EQ(conflicts, row.conflicts);
    }
}

// Two stores on one file: a field both changed keeps ours, names the
// conflict and keeps the version on disk beside the file.
using SaveMergeTest = ConfigFixture;

TEST_F(SaveMergeTest, aFieldBothChangedIsNamedAndTheDiskVersionKept) {
    ASSERT_TRUE(LoadXml(TreeFile("A[Server=a]")));
    auto other = NewStore();
    ASSERT_TRUE(other->Load(dir.file("Vandrelle.xml")));
    store->SetDiskMerge(MergeTrees);
    ASSERT_TRUE(other->UpdateServer(NodePath({"A"}), RecordFrom("Name=A Server=from-other")));
    ASSERT_TRUE(store->UpdateServer(NodePath({"A"}), RecordFrom("Name=A Server=from-store")));
    ASSERT_EQ(store->MergeConflicts().size(), 1u);
    EXPECT_EQ(store->MergeConflicts()[0].node + ":" + store->MergeConflicts()[0].field, "A:Server");
    EXPECT_TRUE(store->KeptChangedCopy().ends_with(".changed")) << store->KeptChangedCopy();
    EXPECT_NE(ReadFile(store->KeptChangedCopy()).find("from-other"), std::string::npos);
}

// Two writers share one file without taking turns of their own: the companion
// (one process per server it adds) and a store that adds, saves and follows the
// file as the program does, in a second process. Each adds servers of its own
// into groups a seeded generator picks, so that what the file must end with is
// known. (A save killed half-way: ConfigFileTest; how other edits merge: the
// rows above.)

constexpr int kServers = 150;
const std::string kGroups[] = {"G0", "G1", "G2"};

// Servers by name, each with its group.
using Placed = std::map<std::string, std::string>;

Placed MakePlan(char side, unsigned seed) {
    std::mt19937 rng(seed);
    Placed plan;
    for (int i = 0; i < kServers; ++i) plan[side + std::to_string(i)] = kGroups[rng() % 3];
    return plan;
}

// The second writer's process: 0 when every server was saved with no conflict.
// Between adds it reads the file again now and then, as the program does when
// the file changes.
int RunStoreWriter(const TempDir& dir, const Placed& plan, unsigned seed) try {
    RegFileKeyStore keys(dir.file("store.reg"), dir.file("machine.reg"));
    CConfigStore store(keys);
    store.SetDiskMerge(MergeTrees);
    if (!store.Init() || !store.Load(dir.file("Vandrelle.xml"))) return 10;
    store.SetConfigPath(dir.file("Vandrelle.xml"));
    std::mt19937 rng(seed);
    for (const auto& [name, group] : plan) {
        if (rng() % 3 == 0 && store.ReloadFromDisk() == CConfigStore::Reload::Unreadable) return 11;
        if (!store.AddServer(NodePath({group}), Named(name))) return 12;
        if (!store.MergeConflicts().empty() || !store.KeptChangedCopy().empty()) return 14;
        ::usleep(rng() % 50000);  // about the pace of the companion's runs
    }
    return 0;
} catch (const std::exception&) {
    return 13;
}

// Runs the companion on `file`, its errors appended to `errors`; its exit code.
int RunCompanion(const std::string& file, const std::vector<std::string>& args,
                 const std::string& errors) {
    std::string command = std::string(VANDRELLE_CLI) + " --config " + file;
    for (const std::string& a : args) command += " " + a;  // no blanks, no shell characters
    const int status = std::system((command + " >/dev/null 2>>" + errors).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The servers as the file holds them; false when it does not parse or holds a
// server twice.
bool ReadPlaced(const std::string& file, Placed& placed) {
    pugi::xml_document doc;
    if (!doc.load_file(file.c_str())) return false;
    bool unique = true;
    for (pugi::xml_node group : doc.child("Vandrelle").child("Servers").children("Group")) {
        for (pugi::xml_node server : group.children("Server"))
            unique &= placed
                          .try_emplace(server.child_value("Name"),
                                       group.child("Properties").child_value("Name"))
                          .second;
    }
    return unique;
}

// Every server of both writers ends in the file, with no conflict and no copy kept.
TEST(TwoWritersTest, bothWritersEditsEndInTheFile) {
    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", dir.path()};  // the companion's key store
    const std::string file = dir.file("Vandrelle.xml"), errors = dir.file("cli-errors.txt");
    for (const std::string& g : kGroups)
        ASSERT_EQ(RunCompanion(file, {"add-group", "--set", "Name=" + g}, errors), 0);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const Placed a = MakePlan('a', rng()), b = MakePlan('b', rng());
    const unsigned storeSeed = rng();
    const pid_t store = ::fork();
    if (store == 0) ::_exit(RunStoreWriter(dir, b, storeSeed));
    for (const auto& [name, group] : a) {
        ASSERT_EQ(RunCompanion(file, {"add-server", group, "--set", "Name=" + name}, errors), 0)
            << ReadFile(errors);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(store, &status, 0), store);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    Placed onDisk, both = a;
    both.insert(b.begin(), b.end());
    ASSERT_TRUE(ReadPlaced(file, onDisk)) << ReadFile(file);
    EXPECT_EQ(onDisk, both);
    EXPECT_EQ(ReadFile(errors), "") << "the companion warned: a conflict or a copy kept";
}

}  // namespace
}  // namespace vandrelle::test
