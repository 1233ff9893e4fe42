// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

namespace vandrelle {

// Creates or truncates `path`, writes all of `data`, flushes it to the disk
// (fsync) and closes it. A new file gets `mode` (before the umask); an
// existing file keeps its mode. On failure returns false with a message.
bool WriteWholeFile(const std::string& path, std::string_view data, mode_t mode,
                    std::string* error);

// Creates `path` only if it does not exist yet, with `data` flushed to the
// disk. When it already exists, returns false and sets *exists.
bool WriteNewFile(const std::string& path, std::string_view data, mode_t mode, bool* exists,
                  std::string* error);

// Renames `from` over `to` and flushes the folder, so that after a crash the
// folder holds either the old `to` or the new one, never a torn file.
bool ReplaceFile(const std::string& from, const std::string& to, std::string* error);

// WriteWholeFile to `path + tempSuffix`, then ReplaceFile onto `path`.
bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode,
                         std::string* error, const std::string& tempSuffix = "~");

// Reads a whole file; false with a message when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* data, std::string* error);

bool FileExists(const std::string& path);

// Creates the folder and its parents (mode 0700 for new ones); true when it exists afterwards.
bool MakeFolders(const std::string& path);

// The folder part of a path, without a trailing slash ("." when there is none).
std::string FolderOf(const std::string& path);

}  // namespace vandrelle
