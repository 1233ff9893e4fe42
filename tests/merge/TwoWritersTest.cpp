// SPDX-License-Identifier: GPL-3.0-or-later
// Two writers share one file without taking turns of their own: the companion
// (one process per edit) and a store that edits, saves and follows the file as
// the program does, in a second process. Each makes a seeded series of edits
// on servers of its own, so that what the file must end with is known. (A
// save killed half-way: ConfigFileTest.)
#include "ConfigStore.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"
#include "TreeMerge.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

using namespace vandrelle;
using test::ReadFile;

namespace {

constexpr int kEdits = 200;
const std::string kGroups[] = {"G0", "G1", "G2"};

// A writer's servers: name → (group, description).
using Model = std::map<std::string, std::pair<std::string, std::string>>;

struct Edit {
    enum Kind { Add, Set, Move, Delete } kind;
    std::string name, group;  // the server and where it is before the edit
    std::string to, value;    // its group and description after the edit
    Model after = {};         // the writer's servers after the edit
};

std::vector<Edit> MakePlan(char side, unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    std::vector<Edit> plan;
    Model model;
    for (int i = 0; i < kEdits; ++i) {
        const std::string value = std::string(1, side) + "-edit-" + std::to_string(i);
        const std::size_t roll = model.empty() ? 0 : pick(10);
        Edit e{Edit::Add, std::string(1, side) + std::to_string(i), "", kGroups[pick(3)], value};
        if (roll >= 3) {
            const auto& [name, placed] =
                *std::next(model.begin(), static_cast<std::ptrdiff_t>(pick(model.size())));
            const auto kind = roll < 6 ? Edit::Set : roll < 8 ? Edit::Move : Edit::Delete;
            const std::string other =
                placed.first == kGroups[0] ? kGroups[1 + pick(2)] : kGroups[0];
            e = {kind, name, placed.first, kind == Edit::Move ? other : placed.first,
                 kind == Edit::Set ? value : placed.second};
        }
        model[e.name] = {e.to, e.value};
        if (e.kind == Edit::Delete) model.erase(e.name);
        e.after = model;
        plan.push_back(e);
    }
    return plan;
}

std::vector<std::string> CliArguments(const Edit& e) {
    switch (e.kind) {
        case Edit::Add:
            return {"add-server",     e.to,    "--set",
                    "Name=" + e.name, "--set", "Description=" + e.value};
        case Edit::Set:
            return {"set", e.group, e.name, "--set", "Description=" + e.value};
        case Edit::Move:
            return {"move", e.group, e.name, "--to", e.to};
        case Edit::Delete:
            return {"delete", e.group, e.name};
    }
    return {};
}

bool ApplyToStore(CConfigStore& store, const Edit& e) {
    const NodePath path({e.group, e.name});
    if (e.kind == Edit::Move) return store.MoveNode(path, NodePath({e.to}));
    if (e.kind == Edit::Delete) {
        store.DeleteNode(path);
        return store.Save();
    }
    Properties record;
    if (e.kind == Edit::Set) store.LoadProperties(path, record);
    record.Name = e.name;
    record.Description = e.value;
    return e.kind == Edit::Add ? store.AddServer(NodePath({e.to}), record)
                               : store.UpdateServer(path, record);
}

// The second writer's process: 0 when every edit was saved with no conflict.
// Between edits it reads the file again now and then, as the program does
// when the file changes.
int RunStoreWriter(const test::TempDir& dir, const std::vector<Edit>& plan, unsigned seed) try {
    RegFileKeyStore keys(dir.file("store.reg"), dir.file("machine.reg"));
    CConfigStore store(keys);
    store.SetDiskMerge(MergeTrees);
    if (!store.Init() || !store.Load(dir.file("Vandrelle.xml"))) return 10;
    store.SetConfigPath(dir.file("Vandrelle.xml"));
    std::mt19937 rng(seed);
    for (const Edit& e : plan) {
        if (rng() % 3 == 0 && store.ReloadFromDisk() == CConfigStore::Reload::Unreadable) return 11;
        if (!ApplyToStore(store, e)) return 12;
        if (!store.MergeConflicts().empty() || !store.KeptChangedCopy().empty()) return 14;
        ::usleep(rng() % 50000);  // about the pace of the companion's runs
    }
    return 0;
} catch (const std::exception&) {
    return 13;
}

// Runs the companion on `file`; its errors are appended to `errors`.
pid_t SpawnCli(const std::string& file, std::vector<std::string> args, const std::string& errors) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::dup2(::open("/dev/null", O_WRONLY), 1);
    ::dup2(::open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600), 2);
    args.insert(args.begin(), {VANDRELLE_CLI, "--config", file});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

int WaitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Each side's servers as the file holds them; false when it does not parse
// or holds a server twice.
bool ReadSides(const std::string& file, Model& a, Model& b) {
    pugi::xml_document doc;
    if (!doc.load_file(file.c_str())) return false;
    bool unique = true;
    for (pugi::xml_node group : doc.child("Vandrelle").child("Servers").children("Group")) {
        for (pugi::xml_node server : group.children("Server")) {
            const std::string name = server.child_value("Name");
            unique &= (name.starts_with('a') ? a : b)
                          .try_emplace(name, group.child("Properties").child_value("Name"),
                                       server.child_value("Description"))
                          .second;
        }
    }
    return unique;
}

// Every edit of both sides ends in the file, with no conflict and no copy kept.
TEST(TwoWritersTest, bothWritersEditsEndInTheFile) {
    test::TempDir dir;
    test::ScopedEnv config{"XDG_CONFIG_HOME", dir.path()};  // the companion's key store
    const std::string file = dir.file("Vandrelle.xml"), errors = dir.file("cli-errors.txt");
    for (const std::string& g : kGroups)
        ASSERT_EQ(WaitFor(SpawnCli(file, {"add-group", "--set", "Name=" + g}, errors)), 0);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const auto a = MakePlan('a', rng()), b = MakePlan('b', rng());
    const unsigned storeSeed = rng();
    const pid_t store = ::fork();
    if (store == 0) ::_exit(RunStoreWriter(dir, b, storeSeed));
    for (const Edit& e : a)
        ASSERT_EQ(WaitFor(SpawnCli(file, CliArguments(e), errors)), 0) << ReadFile(errors);
    EXPECT_EQ(WaitFor(store), 0);
    Model onDiskA, onDiskB;
    ASSERT_TRUE(ReadSides(file, onDiskA, onDiskB)) << ReadFile(file);
    EXPECT_EQ(onDiskA, a.back().after);
    EXPECT_EQ(onDiskB, b.back().after);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_FALSE(entry.path().string().ends_with("~") ||
                     entry.path().string().find(".changed") != std::string::npos)
            << entry.path();
}

}  // namespace
