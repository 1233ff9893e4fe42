// SPDX-License-Identifier: GPL-3.0-or-later
// Two writers share one file without taking turns of their own: the companion
// (one process per edit) and a store that edits, saves and follows the file as
// the program does, in a second process. Each makes a seeded series of edits
// on servers of its own, so that what the file must end with is known.
#include "ConfigStore.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"
#include "TreeMerge.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <random>

extern char** environ;

using namespace vandrelle;
using test::ReadFile;

namespace {

constexpr int kEdits = 200;
const std::string kGroups[] = {"G0", "G1", "G2"};

struct Placed {
    std::string group, description;
    friend bool operator==(const Placed&, const Placed&) = default;
};
using Model = std::map<std::string, Placed>;  // a writer's servers by name

struct Edit {
    enum Kind { Add, Set, Move, Delete } kind;
    std::string name, group;  // the server and where it is before the edit
    std::string to, value;    // Add's and Move's group; Add's and Set's description
};

// A writer's edits and its servers after each: states[i] follows edits[0, i).
struct Plan {
    std::vector<Edit> edits;
    std::vector<Model> states{Model{}};
};

Plan MakePlan(char side, unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    Plan plan;
    Model model;
    for (int i = 0; i < kEdits; ++i) {
        const std::string value = std::string(1, side) + "-edit-" + std::to_string(i);
        const std::size_t roll = pick(10);
        Edit e{};
        if (model.empty() || roll < 3) {
            e = {Edit::Add, std::string(1, side) + std::to_string(i), "", kGroups[pick(3)], value};
            model[e.name] = {e.to, value};
        } else {
            auto it = std::next(model.begin(), static_cast<std::ptrdiff_t>(pick(model.size())));
            e.name = it->first;
            e.group = it->second.group;
            if (roll < 6) {
                e.kind = Edit::Set;
                e.value = it->second.description = value;
            } else if (roll < 8) {
                e.kind = Edit::Move;
                e.to = it->second.group = e.group == kGroups[0] ? kGroups[1 + pick(2)] : kGroups[0];
            } else {
                e.kind = Edit::Delete;
                model.erase(it);
            }
        }
        plan.edits.push_back(e);
        plan.states.push_back(model);
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
    Properties record;
    switch (e.kind) {
        case Edit::Add:
            record.Name = e.name;
            record.Description = e.value;
            return store.AddServer(NodePath({e.to}), record);
        case Edit::Set:
            store.LoadProperties(path, record);
            record.Description = e.value;
            return store.UpdateServer(path, record);
        case Edit::Move:
            return store.MoveNode(path, NodePath({e.to}));
        case Edit::Delete:
            store.DeleteNode(path);
            return store.Save();
    }
    return false;
}

// The second writer's process: 0 when every edit was saved with no conflict.
// Between edits it reads the file again now and then, as the program does
// when the file changes; `done` counts the saved edits.
int RunStoreWriter(const test::TempDir& dir, const Plan& plan, unsigned seed,
                   std::atomic<int>* done) {
    RegFileKeyStore keys(dir.file("store.reg"), dir.file("machine.reg"));
    CConfigStore store(keys);
    store.SetDiskMerge(MergeTrees);
    if (!store.Init() || !store.Load(dir.file("Vandrelle.xml"))) return 10;
    store.SetConfigPath(dir.file("Vandrelle.xml"));
    std::mt19937 rng(seed);
    for (const Edit& e : plan.edits) {
        if (rng() % 3 == 0 && store.ReloadFromDisk() == CConfigStore::Reload::Unreadable) return 11;
        try {
            if (!ApplyToStore(store, e)) return 12;
        } catch (const std::exception&) {
            return 13;
        }
        if (!store.MergeConflicts().empty() || !store.KeptChangedCopy().empty()) return 14;
        ++*done;
        ::usleep(rng() % 50000);  // about the pace of the companion's runs
    }
    return 0;
}

pid_t SpawnCli(const std::string& file, const std::vector<std::string>& args,
               const std::string& errFile) {
    std::vector<std::string> all{VANDRELLE_CLI, "--config", file};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
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
            Model& side = name.starts_with('a') ? a : b;
            unique &= side.emplace(name, Placed{group.child("Properties").child_value("Name"),
                                                server.child_value("Description")})
                          .second;
        }
    }
    return unique;
}

// Whether one of the plan's states[from..to] is `found`.
bool IsStateIn(const Plan& plan, const Model& found, int from, int to) {
    for (int i = std::max(from, 0); i <= std::min(to, kEdits); ++i)
        if (plan.states[static_cast<std::size_t>(i)] == found) return true;
    return false;
}

class TwoWritersTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        RegFileKeyStore keys(dir.file("store.reg"), dir.file("machine.reg"));
        CConfigStore store(keys);
        ASSERT_TRUE(store.Init());
        store.SetConfigPath(dir.file("Vandrelle.xml"));
        for (const std::string& g : kGroups) {
            Properties group;
            group.Name = g;
            ASSERT_TRUE(store.AddGroup(NodePath(), group));
        }
        done = new (::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                           MAP_SHARED | MAP_ANONYMOUS, -1, 0)) std::atomic<int>(0);
    }
    void TearDown() override { ::munmap(done, sizeof *done); }

    test::TempDir dir;
    test::ScopedEnv config{"XDG_CONFIG_HOME", dir.path()};  // the companion's key store
    std::atomic<int>* done = nullptr;                       // shared with the store's process
};

// Without kills every edit of both sides ends in the file, with no conflict
// and no copy kept. With a kill -9 of each writer at a random moment, the file
// stays whole and holds each side's edits up to about where it was killed.
TEST_P(TwoWritersTest, bothWritersEditsEndInTheFile) {
    const bool kills = GetParam();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const Plan a = MakePlan('a', rng()), b = MakePlan('b', rng());
    const unsigned storeSeed = rng();
    const pid_t store = ::fork();
    if (store == 0) ::_exit(RunStoreWriter(dir, b, storeSeed, done));
    const int killStoreAt = kills ? 20 + static_cast<int>(rng() % 160) : -1;
    const int killCliAt = kills ? 20 + static_cast<int>(rng() % 160) : -1;
    const std::string errors = dir.file("cli-errors.txt");
    int cliDone = 0;
    for (int i = 0; i < kEdits; ++i) {
        if (i == killStoreAt) ::kill(store, SIGKILL);
        const pid_t cli = SpawnCli(dir.file("Vandrelle.xml"),
                                   CliArguments(a.edits[static_cast<std::size_t>(i)]), errors);
        ASSERT_GT(cli, 0);
        if (i == killCliAt) {
            ::usleep(rng() % 20000);
            ::kill(cli, SIGKILL);
            WaitFor(cli);
            break;
        }
        ASSERT_EQ(WaitFor(cli), 0) << "edit " << i << ": " << ReadFile(errors);
        ++cliDone;
    }
    const int storeStatus = WaitFor(store);
    EXPECT_TRUE(storeStatus == 0 || (kills && storeStatus == 128 + SIGKILL)) << storeStatus;
    Model onDiskA, onDiskB;
    ASSERT_TRUE(ReadSides(dir.file("Vandrelle.xml"), onDiskA, onDiskB))
        << ReadFile(dir.file("Vandrelle.xml"));
    EXPECT_TRUE(IsStateIn(a, onDiskA, cliDone, cliDone + (kills ? 1 : 0)));
    EXPECT_TRUE(IsStateIn(b, onDiskB, *done, *done + (kills ? 1 : 0)));
    EXPECT_EQ(ReadFile(errors), "");
    if (!kills) {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_FALSE(entry.path().string().ends_with("~") ||
                         entry.path().string().find(".changed") != std::string::npos)
                << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(WithKills, TwoWritersTest, ::testing::Bool());

}  // namespace
