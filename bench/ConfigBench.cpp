// SPDX-License-Identifier: GPL-3.0-or-later
// Times the configuration store on a generated file of 10,000 servers, each
// operation next to its floor: the same work done with bare pugixml, which no
// implementation on top of pugixml can beat; and the three-way merge of two
// writers' versions of it. The last lines give the ratios.
#include "ConfigStore.h"
#include "FileUtil.h"
#include "GenerateConfig.h"
#include "PasswordCodec.h"
#include "PlainXml.h"
#include "RegFileKeyStore.h"
#include "TreeMerge.h"
#include "XmlDocument.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace vandrelle {
namespace {

struct BenchFiles {
    std::string folder;
    std::string config;  // the generated file; never written by a benchmark
    std::string userHive;
    std::string machineHive;
};

BenchFiles* g_files = nullptr;

std::string MakeTempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vandrelle-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create " + pattern);
    return pattern;
}

// A store whose key store holds the generator's key, so that passwords decode.
class BenchStore {
public:
    BenchStore() : m_keys(g_files->userHive, g_files->machineHive), m_store(m_keys) {
        m_store.Init();
    }
    CConfigStore& operator*() { return m_store; }
    CConfigStore* operator->() { return &m_store; }

private:
    RegFileKeyStore m_keys;
    CConfigStore m_store;
};

void CollectServers(pugi::xml_node container, const NodePath& path, std::vector<NodePath>& out) {
    for (pugi::xml_node c = container.first_child(); c; c = c.next_sibling()) {
        const std::string_view kind = c.name();
        if (kind == "Group") {
            CollectServers(c, path.Child(ElementText(SelectElement(c, "Properties/Name"))), out);
        } else if (kind == "Server") {
            out.push_back(path.Child(ElementText(FirstChildElement(c, "Name"))));
        }
    }
}

std::vector<NodePath> AllServerPaths(const CConfigStore& store) {
    std::vector<NodePath> paths;
    CollectServers(store.ServersElement(), NodePath(), paths);
    return paths;
}

// ---- Load -----------------------------------------------------------------

void BM_Load(benchmark::State& state) {
    BenchStore store;
    for (auto _ : state) {
        if (!store->Load(g_files->config)) {
            state.SkipWithError(store->LastLoadError().c_str());
            break;
        }
        benchmark::DoNotOptimize(store->ServersElement());
    }
}

void BM_LoadFloor(benchmark::State& state) {
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!LoadPlain(doc, g_files->config)) {
            state.SkipWithError("the generated file does not parse");
            break;
        }
        benchmark::DoNotOptimize(CountElements(doc));
    }
}

// ---- LoadProperties of every server ----------------------------------------

void BM_LoadProperties(benchmark::State& state) {
    BenchStore store;
    if (!store->Load(g_files->config)) {
        state.SkipWithError(store->LastLoadError().c_str());
        return;
    }
    const std::vector<NodePath> paths = AllServerPaths(*store);
    // A wrong key would time the decoding of garbage; make sure it is right.
    Properties probe;
    store->LoadProperties(paths.front(), probe);
    if (probe.InheritGeneral != 0 || probe.Password != "pw-0") {
        state.SkipWithError("server 0 does not read back its own password");
        return;
    }
    std::size_t total = 0;
    for (auto _ : state) {
        for (const NodePath& path : paths) {
            Properties record;
            store->LoadProperties(path, record);
            total += record.Password.size();
        }
        benchmark::DoNotOptimize(total);
    }
    state.counters["servers"] = static_cast<double>(paths.size());
}

pugi::xml_node FloorFind(pugi::xml_node servers, const NodePath& path) {
    pugi::xml_node current = servers;
    for (const std::string& name : path.Names()) {
        pugi::xml_node match;
        for (pugi::xml_node c = current.first_child(); c && !match; c = c.next_sibling()) {
            const char* text = nullptr;
            if (std::string_view(c.name()) == "Group") {
                text = c.child("Properties").child_value("Name");
            } else if (std::string_view(c.name()) == "Server") {
                text = c.child_value("Name");
            }
            if (text && name == text) match = c;
        }
        if (!match) return {};
        current = match;
    }
    return current;
}

void BM_LoadPropertiesFloor(benchmark::State& state) {
    pugi::xml_document doc;
    BenchStore store;
    if (!LoadPlain(doc, g_files->config) || !store->Load(g_files->config)) {
        state.SkipWithError("the generated file does not parse");
        return;
    }
    const std::vector<NodePath> paths = AllServerPaths(*store);
    const pugi::xml_node servers = doc.child("Vandrelle").child("Servers");
    const Rc4 cipher(store->Key().data(), store->Key().size());
    std::unordered_map<std::string_view, const PropertyField*> fields;
    for (const PropertyField& f : PropertyFields()) fields.emplace(f.name, &f);
    std::size_t total = 0;
    for (auto _ : state) {
        for (const NodePath& path : paths) {
            // The same result as the store's: a record with every field the
            // server has, texts as they stand and numbers as numbers, read in
            // one pass over the server's children.
            Properties record;
            const pugi::xml_node server = FloorFind(servers, path);
            for (pugi::xml_node e = server.first_child(); e; e = e.next_sibling()) {
                const auto at = fields.find(e.name());
                if (at == fields.end()) continue;
                const PropertyField& f = *at->second;
                if (f.text) {
                    record.*f.text = e.child_value();
                } else {
                    record.*f.number = e.text().as_int();
                }
            }
            // The log-on fields come from the server or from the nearest
            // ancestor that defines them, and the password found there is decoded.
            pugi::xml_node logon = server;
            for (pugi::xml_node node = server;
                 logon.child("InheritGeneral").text().as_int(1) != 0;) {
                node = node.parent();
                if (node.type() != pugi::node_element) break;
                logon = node.child("Properties");
                if (std::string_view(node.name()) == "Servers") break;
            }
            record.UserName = logon.child_value("UserName");
            record.Domain = logon.child_value("Domain");
            record.Password = DecodePassword(logon.child_value("Password"), cipher);
            if (const pugi::xml_node port = logon.child("RDPPort")) {
                record.RDPPort = port.text().as_int();
            }
            total += record.Password.size();
        }
        benchmark::DoNotOptimize(total);
    }
    state.counters["servers"] = static_cast<double>(paths.size());
}

// ---- Save -------------------------------------------------------------------

void BM_Save(benchmark::State& state) {
    BenchStore store;
    if (!store->Load(g_files->config)) {
        state.SkipWithError(store->LastLoadError().c_str());
        return;
    }
    store->SetConfigPath(g_files->folder + "/save.xml");
    const std::vector<NodePath> paths = AllServerPaths(*store);
    const NodePath& target = paths[paths.size() / 2];
    const pugi::xml_node node = store->FindNode(target);
    Properties record;
    store->LoadProperties(target, record);
    bool flip = false;
    for (auto _ : state) {
        // WriteServerProperties saves by itself; changing the one record costs
        // microseconds next to writing the whole file.
        flip = !flip;
        record.Description = flip ? "changed" : "changed again";
        if (!store->WriteServerProperties(node, record)) {
            state.SkipWithError(store->LastSaveError().c_str());
            break;
        }
    }
}

class AppendWriter : public pugi::xml_writer {
public:
    explicit AppendWriter(std::string* out) : m_out(out) {}
    void write(const void* data, std::size_t size) override {
        m_out->append(static_cast<const char*>(data), size);
    }

private:
    std::string* m_out;
};

bool WriteSyncRename(const std::string& path, const std::string& data) {
    const std::string temp = path + "~";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    // The rename is durable only once the folder is flushed too.
    const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = dir >= 0 && ::fsync(dir) == 0 && ok;
    if (dir >= 0) ::close(dir);
    return ok;
}

void BM_SaveFloor(benchmark::State& state) {
    pugi::xml_document doc;
    if (!LoadPlain(doc, g_files->config)) {
        state.SkipWithError("the generated file does not parse");
        return;
    }
    const std::string path = g_files->folder + "/save-floor.xml";
    pugi::xml_node description = doc.child("Vandrelle").child("Servers");
    while (description && !description.child("Server")) description = description.child("Group");
    description = description.child("Server").child("Description");
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        description.text().set(flip ? "changed" : "changed again");
        std::string out;
        AppendWriter writer(&out);
        doc.save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
        if (!WriteSyncRename(path, out)) {
            state.SkipWithError("cannot write the floor's file");
            break;
        }
    }
}

// ---- Merge ------------------------------------------------------------------

// Two writers' versions of the file, each with 100 changes since the version
// both read: 90 servers' descriptions set and 10 servers added, on different
// servers, so that the merge is clean. Timed: bringing theirs into ours.
void ChangeServers(pugi::xml_document& doc, std::size_t first, std::string_view side) {
    std::vector<pugi::xml_node> servers;
    for (pugi::xpath_node n : doc.select_nodes("//Server")) servers.push_back(n.node());
    for (std::size_t i = 0; i < 100; ++i) {
        pugi::xml_node server = servers[(first + i * 97) % servers.size()];
        const std::string text = std::string(side) + "-" + std::to_string(i);
        if (i < 90) {
            CConfigStore::SetChildText(server, "Description", text);
        } else {
            server.parent().append_child("Server").append_child("Name").text() = text.c_str();
        }
    }
}

void BM_Merge(benchmark::State& state) {
    pugi::xml_document base, ours, theirs, merged;
    if (!LoadPlain(base, g_files->config)) {
        state.SkipWithError("the generated file does not parse");
        return;
    }
    ours.reset(base);
    theirs.reset(base);
    ChangeServers(ours, 0, "ours");
    ChangeServers(theirs, 50, "theirs");
    for (auto _ : state) {
        state.PauseTiming();
        merged.reset(ours);
        state.ResumeTiming();
        if (!MergeTrees(base, merged, theirs).empty()) {
            state.SkipWithError("the changes conflict");
            break;
        }
    }
}

// ---- Ratios -----------------------------------------------------------------

// Shows the usual table and keeps each benchmark's time (the median when
// repeated) for the summary.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that the output can be parsed when piped.
    RatioReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration || median) {
                const double ms = run.GetAdjustedRealTime() /
                                  benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
                // A median replaces single repetitions; among those the last wins.
                if (median || !m_median.count(run.run_name.function_name)) {
                    m_ms[run.run_name.function_name] = ms;
                }
                if (median) m_median[run.run_name.function_name] = true;
            }
        }
    }

    void PrintRatios() const {
        static constexpr const char* kPairs[][2] = {{"Load", "LoadFloor"},
                                                    {"LoadProperties", "LoadPropertiesFloor"},
                                                    {"Save", "SaveFloor"}};
        for (const auto& pair : kPairs) {
            const auto figure = m_ms.find(pair[0]);
            const auto floor = m_ms.find(pair[1]);
            if (figure == m_ms.end() || floor == m_ms.end() || floor->second <= 0) continue;
            std::printf("summary %-16s %10.3f ms  floor %10.3f ms  ratio %5.2f\n", pair[0],
                        figure->second, floor->second, figure->second / floor->second);
        }
        std::fflush(stdout);
    }

private:
    std::map<std::string, double> m_ms;
    std::map<std::string, bool> m_median;
};

void Register() {
    const struct {
        const char* name;
        void (*fn)(benchmark::State&);
    } benches[] = {
        {"Load", BM_Load},
        {"LoadFloor", BM_LoadFloor},
        {"LoadProperties", BM_LoadProperties},
        {"LoadPropertiesFloor", BM_LoadPropertiesFloor},
        {"Save", BM_Save},
        {"SaveFloor", BM_SaveFloor},
        {"Merge", BM_Merge},
    };
    for (const auto& b : benches) {
        benchmark::RegisterBenchmark(b.name, b.fn)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }
}

int RunBenchmarks(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

    BenchFiles files;
    files.folder = MakeTempFolder();
    files.config = files.folder + "/Vandrelle.xml";
    files.userHive = files.folder + "/registry.reg";
    files.machineHive = files.folder + "/machine.reg";
    g_files = &files;

    int status = 1;
    try {
        const PasswordKey key = GeneratedConfigKey();
        std::string error;
        if (!WriteFileAtomically(files.config, GenerateConfigXml(GeneratedShape{}, key), 0600,
                                 &error)) {
            throw std::runtime_error(error);
        }
        RegFileKeyStore keys(files.userHive, files.machineHive);
        auto programKey = keys.CreateKey(Hive::CurrentUser, kProgramKey);
        if (!programKey || !programKey->WriteBinary("key", {key.begin(), key.end()})) {
            throw std::runtime_error("cannot write the key to " + files.userHive);
        }
        Register();
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.PrintRatios();
        status = 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vandrelle-config-bench: %s\n", e.what());
    }
    std::error_code ignored;
    std::filesystem::remove_all(files.folder, ignored);
    benchmark::Shutdown();
    return status;
}

}  // namespace
}  // namespace vandrelle

int main(int argc, char** argv) {
    return vandrelle::RunBenchmarks(argc, argv);
}
