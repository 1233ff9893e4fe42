// SPDX-License-Identifier: GPL-3.0-or-later
// Times what every start of the program and every command of the companion
// does first: open the program's key in the user's key store and read the
// password key from it. The store holds N values in the program's key and N
// subkeys below it; the fitted O(N) line and its RMS show how far the time
// grows in proportion to N.
#include "ConfigStore.h"
#include "FileUtil.h"
#include "KeyStore.h"
#include "RegFileKeyStore.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

namespace vandrelle {
namespace {

std::string MakeTempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vandrelle-keybench-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create " + pattern);
    return pattern;
}

std::string Numbered(const char* prefix, std::int64_t n) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s%06lld", prefix, static_cast<long long>(n));
    return buffer;
}

// A store as a long-lived installation might hold it: the password key among
// `count` other values, and `count` subkeys, each a section of its own.
std::string StoreText(std::int64_t count) {
    std::string text =
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Vandrelle]\n";
    text += "\"key\"=hex:00,11,22,33,44,55,66,77,88,99,aa,bb,cc,dd,ee,ff\n";
    for (std::int64_t i = 0; i < count; ++i) {
        text += "\"" + Numbered("Value", i) + "\"=dword:00000001\n";
    }
    text += "\n";
    for (std::int64_t i = 0; i < count; ++i) {
        text += "[HKEY_CURRENT_USER\\Software\\Vandrelle\\" + Numbered("Sub", i) +
                "]\n\"Name\"=\"x\"\n\n";
    }
    return text;
}

class StoreFiles {
public:
    StoreFiles() : m_folder(MakeTempFolder()) {}
    ~StoreFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    StoreFiles(const StoreFiles&) = delete;
    StoreFiles& operator=(const StoreFiles&) = delete;

    // The store file for `count`, written on first use.
    const std::string& UserFile(std::int64_t count) {
        auto it = m_files.find(count);
        if (it != m_files.end()) return it->second;
        const std::string path = m_folder + "/" + Numbered("registry-", count) + ".reg";
        std::string error;
        if (!WriteFileAtomically(path, StoreText(count), 0600, &error)) {
            throw std::runtime_error(error);
        }
        return m_files.emplace(count, path).first->second;
    }

    std::string MachineFile() const { return m_folder + "/machine.reg"; }

private:
    std::string m_folder;
    std::map<std::int64_t, std::string> m_files;
};

StoreFiles* g_files = nullptr;

void BM_OpenProgramKey(benchmark::State& state) {
    RegFileKeyStore keys(g_files->UserFile(state.range(0)), g_files->MachineFile());
    for (auto _ : state) {
        auto key = keys.OpenKey(Hive::CurrentUser, kProgramKey);
        if (!key || !key->ReadBinary("key")) {
            state.SkipWithError("the program's key or its password key is missing");
            break;
        }
        benchmark::DoNotOptimize(key);
    }
    state.SetComplexityN(state.range(0));
}

// The same through the configuration store, as the program and the companion start.
void BM_ConfigInit(benchmark::State& state) {
    RegFileKeyStore keys(g_files->UserFile(state.range(0)), g_files->MachineFile());
    for (auto _ : state) {
        CConfigStore store(keys);
        if (!store.Init()) {
            state.SkipWithError("Init failed");
            break;
        }
        benchmark::DoNotOptimize(store.Key());
    }
    state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_OpenProgramKey)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_ConfigInit)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace vandrelle

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    int status = 1;
    try {
        vandrelle::StoreFiles files;
        vandrelle::g_files = &files;
        benchmark::RunSpecifiedBenchmarks();
        status = 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vandrelle-keystore-bench: %s\n", e.what());
    }
    benchmark::Shutdown();
    return status;
}
