// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <string>
#include <string_view>

namespace vandrelle {

// Creates or truncates `path`, writes all of `data`, flushes it to the disk
// (fsync) and closes it. A new file gets `mode` (before the umask); an
// existing file keeps its mode. It writes in place, following links: user
// files are written with FileReplacement instead.
bool WriteWholeFile(const std::string& path, std::string_view data, mode_t mode,
                    std::string* error);

// Replaces a file whole, so that a crash leaves either the old file or the new
// one. The data goes to a temporary file beside the file (its name followed by
// `tempSuffix`), which is flushed and then renamed over the file.
//
// A path that is a symbolic link is followed to the end of its chain: the link
// stays a link, and the temporary file goes beside the file it names. A
// leftover temporary file is removed (never followed), and the new one is
// created exclusively without following links, so that nothing planted under
// that name is written through. The replacement keeps the file's mode, owner
// and group (the owner when the writer may set it: root, or the owner itself);
// a new file gets `newFileMode`. Something other than a regular file (a
// folder, a FIFO, a device) is never replaced. A failed write leaves no
// temporary file behind.
class FileReplacement {
public:
    explicit FileReplacement(const std::string& path, std::string tempSuffix = "~");
    ~FileReplacement();  // removes a temporary file that was not committed
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Writes the temporary file and flushes it to the disk.
    bool Write(std::string_view data, mode_t newFileMode, std::string* error);

    // The file that Commit replaces: the path with its links followed. Set by Write.
    const std::string& Target() const { return m_target; }

    // Renames the written temporary file over the target and flushes the folder.
    bool Commit(std::string* error);

private:
    bool Prepare(std::string* error);

    std::string m_path;
    std::string m_suffix;
    std::string m_target;
    std::string m_temp;
    bool m_pending = false;  // a temporary file of ours exists
};

// An advisory lock on a folder while the object lives, so that writers of a
// file in it on one machine take turns. It waits up to `waitMs` for a holder
// (a save takes milliseconds) and then goes on without it, as it does where
// the file system keeps no such locks (some network shares).
class FolderLock {
public:
    explicit FolderLock(const std::string& folder, int waitMs = 5000);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};

// FileReplacement's Write then Commit.
bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode,
                         std::string* error, const std::string& tempSuffix = "~");

// Copies the regular file `path` to the first free name among `path + suffix`,
// `path + suffix + ".1"`, `.2`, …: created exclusively, never through a link,
// with the original's mode, owner and group, flushed to the disk. On success
// *copy names the new file.
bool CopyBeside(const std::string& path, const std::string& suffix, std::string* copy,
                std::string* error);

// The largest file ReadWholeFile reads. The program's files are a few
// megabytes even for tens of thousands of servers; the bound keeps a wrong or
// hostile file from exhausting memory (the document built from a file takes
// several times its size).
inline constexpr std::size_t kMaxReadBytes = std::size_t{64} << 20;

// A file's bytes in memory from the C allocator (malloc/free), so that a
// parser that frees with free() may take them over (release()).
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes();
    char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    std::string_view view() const { return {m_data, m_size}; }
    char* release();

private:
    friend bool ReadFileBytes(const std::string&, FileBytes*, std::string*);
    char* m_data = nullptr;
    std::size_t m_size = 0;
};

// Reads a whole regular file once, without first clearing the memory it
// reads into; false with a message when it cannot be read. Anything but a
// regular file (a FIFO, a device such as /dev/zero) is refused without
// waiting on it, and so is a file larger than kMaxReadBytes.
bool ReadFileBytes(const std::string& path, FileBytes* bytes, std::string* error);

// ReadFileBytes into a string.
bool ReadWholeFile(const std::string& path, std::string* data, std::string* error);

// What identifies a version of a file's bytes without keeping them: their
// size and a 64-bit hash. Two versions with equal digests are taken to be the
// same bytes; edits are not chosen to collide.
struct ContentDigest {
    std::size_t size = 0;
    std::size_t hash = 0;
    friend bool operator==(const ContentDigest&, const ContentDigest&) = default;
};
ContentDigest DigestOf(std::string_view bytes);

bool FileExists(const std::string& path);

// Creates the folder and its parents (mode 0700 for new ones); true when it exists afterwards.
bool MakeFolders(const std::string& path);

// The folder part of a path, without a trailing slash ("." when there is none).
std::string FolderOf(const std::string& path);

}  // namespace vandrelle
