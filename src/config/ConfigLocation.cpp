// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigLocation.h"

#include "ConfigStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace vandrelle {

bool IsSharedFolder(const std::string& folder) {
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && (st.st_mode & S_IWOTH) != 0;
}

std::vector<std::string> ConfigCandidates(const std::string& programFolder,
                                          const std::string& userFolder) {
    std::vector<std::string> candidates;
    for (const std::string& folder : {programFolder, programFolder + "/../bin"}) {
        if (!IsSharedFolder(folder)) candidates.push_back(folder + "/" + kConfigFileName);
    }
    candidates.push_back(userFolder + "/" + kConfigFileName);
    return candidates;
}

bool IsSystemProgramFolder(const std::string& folder) {
    static constexpr const char* kSystemFolders[] = {"/usr/bin",  "/usr/local/bin",  "/bin",
                                                     "/usr/sbin", "/usr/local/sbin", "/sbin"};
    std::error_code ignored;
    return std::ranges::any_of(kSystemFolders, [&](const char* system) {
        return std::filesystem::equivalent(folder, system, ignored);
    });
}

std::string DefaultSavePath(const std::string& programFolder, const std::string& userFolder) {
    if (!IsSystemProgramFolder(programFolder) && !IsSharedFolder(programFolder) &&
        ::access(programFolder.c_str(), W_OK) == 0) {
        return programFolder + "/" + kConfigFileName;
    }
    return userFolder + "/" + kConfigFileName;
}

ConfigSearchResult FindAndLoadConfig(CConfigStore& store, const std::string& programFolder,
                                     const std::string& userFolder) {
    ConfigSearchResult result;
    std::vector<std::pair<std::string, std::string>> unreadable;
    for (const std::string& path : ConfigCandidates(programFolder, userFolder)) {
        if (store.Load(path)) {
            store.SetConfigPath(path);
            result.loaded = true;
            return result;
        }
        if (!store.LastLoadFileMissing()) {
            unreadable.emplace_back(path, store.LastLoadError());
            result.problems.push_back(store.LastLoadError());
        }
    }
    const std::string target = DefaultSavePath(programFolder, userFolder);
    store.SetConfigPath(target);
    for (const auto& [path, message] : unreadable) {
        if (path == target) store.MarkTargetUnreadable(message);
    }
    return result;
}

ConfigSearchResult LoadGivenConfig(CConfigStore& store, const std::string& path) {
    ConfigSearchResult result;
    store.SetConfigPath(path);
    result.loaded = store.Load(path);
    if (!result.loaded && !store.LastLoadFileMissing()) {
        result.problems.push_back(store.LastLoadError());
        store.MarkTargetUnreadable(store.LastLoadError());
    }
    return result;
}

}  // namespace vandrelle
