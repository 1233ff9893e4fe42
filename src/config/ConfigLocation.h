// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace vandrelle {

class CConfigStore;

inline constexpr const char* kConfigFileName = "Vandrelle.xml";

// Whether every user may write in `folder` (as with mode 0777 or 1777): any of
// them could put a file of theirs, or a link, where the configuration goes.
bool IsSharedFolder(const std::string& folder);

// The files tried at start-up, in order: beside the program, in "../bin"
// beside the program, and in the user's configuration folder. The first two
// are left out when their folder is shared.
std::vector<std::string> ConfigCandidates(const std::string& programFolder,
                                          const std::string& userFolder);

// Whether `folder` is one of the system's program folders (/usr/bin,
// /usr/local/bin, /bin, /usr/sbin, /usr/local/sbin, /sbin), however it is
// spelled or linked. An installed program runs from one of them.
bool IsSystemProgramFolder(const std::string& folder);

// Where the first save creates the file when none could be loaded: beside the
// program when that folder is writable, not shared and not a system program
// folder, else in the user's configuration folder. An installed program never
// creates its file beside itself, not even as root, who may write there.
std::string DefaultSavePath(const std::string& programFolder, const std::string& userFolder);

struct ConfigSearchResult {
    bool loaded = false;
    // One line per candidate that exists but could not be read, with the reason.
    std::vector<std::string> problems;
};

// Loads the first candidate that reads and makes it the save target; when none
// does, the store keeps its empty configuration and saves go to
// DefaultSavePath. If that target exists but could not be read, the store is
// told so, and its first save keeps a copy of the file.
ConfigSearchResult FindAndLoadConfig(CConfigStore& store, const std::string& programFolder,
                                     const std::string& userFolder);

// Loads one given file, as the command-line companion's --config does: a
// missing file is an empty configuration that the first save creates; a file
// that exists but cannot be read is reported in `problems` and not loaded.
ConfigSearchResult LoadGivenConfig(CConfigStore& store, const std::string& path);

}  // namespace vandrelle
