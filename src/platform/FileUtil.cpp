// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileUtil.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace vandrelle {
namespace {

std::string Describe(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const char* p, std::size_t left, const std::string& path,
              std::string* error) {
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = Describe("cannot write", path);
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool FlushAndClose(Fd& fd, const std::string& path, std::string* error) {
    if (::fsync(fd.get()) != 0) {
        if (error) *error = Describe("cannot flush", path);
        return false;
    }
    if (::close(fd.release()) != 0) {
        if (error) *error = Describe("cannot close", path);
        return false;
    }
    return true;
}

bool Refuse(const std::string& path, const std::string& why, std::string* error) {
    if (error) *error = "cannot read " + path + ": " + why;
    return false;
}

std::string TooLarge() {
    return "larger than " + std::to_string(kMaxReadBytes >> 20) + " MiB";
}

bool CopyData(int from, int to, const std::string& fromPath, const std::string& toPath,
              std::string* error) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            if (error) *error = Describe("cannot read", fromPath);
            return false;
        }
        if (!WriteAll(to, buffer, static_cast<std::size_t>(got), toPath, error)) return false;
    }
}

// Creates `path` exclusively and never through a link: whatever stands under
// that name makes it fail with EEXIST (then *exists is set). With `like` the
// file takes that file's owner, group and mode, else `mode`.
int CreateLike(const std::string& path, const struct stat* like, mode_t mode, bool* exists,
               std::string* error) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 like ? 0600 : mode));
    if (exists) *exists = fd.get() < 0 && errno == EEXIST;
    if (fd.get() < 0) {
        if (error) *error = Describe("cannot create", path);
        return -1;
    }
    if (!like) return fd.release();
    // The owner first: changing it clears the set-id bits that the mode then restores.
    if ((like->st_uid != ::geteuid() || like->st_gid != ::getegid()) &&
        ::fchown(fd.get(), like->st_uid, like->st_gid) != 0 &&
        ::fchown(fd.get(), static_cast<uid_t>(-1), like->st_gid) != 0) {
        // Without the privilege to give the file away it stays the writer's, as
        // with any editor's save; the mode below is kept all the same.
    }
    if (::fchmod(fd.get(), like->st_mode & 07777) != 0) {
        if (error) *error = Describe("cannot set the mode of", path);
        ::unlink(path.c_str());
        return -1;
    }
    return fd.release();
}

// Follows the chain of symbolic links that starts at `path`. The name it ends
// at need not exist yet (a link to a file still to be created).
bool FollowLinks(const std::string& path, std::string* target, std::string* error) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            *target = current;
            return true;
        }
        char link[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), link, sizeof link);
        if (n < 0 || static_cast<std::size_t>(n) == sizeof link) {
            if (n >= 0) errno = ENAMETOOLONG;
            if (error) *error = Describe("cannot follow the link", current);
            return false;
        }
        const std::string next(link, static_cast<std::size_t>(n));
        current = next.starts_with('/') ? next : FolderOf(current) + "/" + next;
    }
    errno = ELOOP;
    if (error) *error = Describe("cannot follow the link", path);
    return false;
}

}  // namespace

bool WriteWholeFile(const std::string& path, std::string_view data, mode_t mode,
                    std::string* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (fd.get() < 0) {
        if (error) *error = Describe("cannot create", path);
        return false;
    }
    return WriteAll(fd.get(), data.data(), data.size(), path, error) &&
           FlushAndClose(fd, path, error);
}

FileReplacement::FileReplacement(const std::string& path, std::string tempSuffix)
    : m_path(path), m_suffix(std::move(tempSuffix)) {}

FileReplacement::~FileReplacement() {
    if (m_pending) ::unlink(m_temp.c_str());
}

bool FileReplacement::Write(std::string_view data, mode_t newFileMode, std::string* error) {
    if (!FollowLinks(m_path, &m_target, error)) return false;
    m_temp = m_target + m_suffix;
    struct stat st {};
    const bool exists = ::lstat(m_target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        if (error) *error = "cannot replace " + m_target + ": not a regular file";
        return false;
    }
    // A leftover of an interrupted write, or anything planted under the name:
    // removed, so that the exclusive create below can succeed.
    ::unlink(m_temp.c_str());
    Fd fd(CreateLike(m_temp, exists ? &st : nullptr, newFileMode, nullptr, error));
    if (fd.get() < 0) return false;
    m_pending = true;
    if (WriteAll(fd.get(), data.data(), data.size(), m_temp, error) &&
        FlushAndClose(fd, m_temp, error)) {
        return true;
    }
    ::unlink(m_temp.c_str());  // a partial file would keep a full disk full
    m_pending = false;
    return false;
}

bool FileReplacement::Commit(std::string* error) {
    if (!m_pending) {
        if (error) *error = "nothing written to replace " + m_path;
        return false;
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        if (error) *error = Describe("cannot replace", m_target);
        return false;
    }
    m_pending = false;
    // The rename is only durable once the folder's entry is on the disk.
    Fd dir(::open(FolderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

FolderLock::FolderLock(const std::string& folder, int waitMs)
    : m_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    for (int waited = 0; m_fd >= 0; waited += 10) {
        m_held = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
        if (m_held || errno != EWOULDBLOCK || waited >= waitMs) break;
        ::usleep(10000);
    }
}

FolderLock::~FolderLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing lets go of the lock
}

bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode,
                         std::string* error, const std::string& tempSuffix) {
    FileReplacement file(path, tempSuffix);
    return file.Write(data, mode, error) && file.Commit(error);
}

bool CopyBeside(const std::string& path, const std::string& suffix, std::string* copy,
                std::string* error) {
    Fd from(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (from.get() < 0 || ::fstat(from.get(), &st) != 0) {
        if (error) *error = Describe("cannot open", path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        if (error) *error = "cannot copy " + path + ": not a regular file";
        return false;
    }
    for (int n = 0; n < 1000; ++n) {
        const std::string name = path + suffix + (n ? "." + std::to_string(n) : "");
        bool exists = false;
        Fd to(CreateLike(name, &st, 0600, &exists, error));
        if (to.get() < 0) {
            if (exists) continue;
            return false;
        }
        if (CopyData(from.get(), to.get(), path, name, error) && FlushAndClose(to, name, error)) {
            *copy = name;
            return true;
        }
        ::unlink(name.c_str());
        return false;
    }
    if (error) *error = "no free name to keep a copy of " + path;
    return false;
}

FileBytes::~FileBytes() {
    std::free(m_data);
}

char* FileBytes::release() {
    m_size = 0;
    return std::exchange(m_data, nullptr);
}

bool ReadFileBytes(const std::string& path, FileBytes* bytes, std::string* error) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        if (error) *error = Describe("cannot open", path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) return Refuse(path, "not a regular file", error);
    const auto expected = static_cast<std::size_t>(st.st_size);
    if (expected > kMaxReadBytes) return Refuse(path, TooLarge(), error);
    FileBytes read;
    std::size_t capacity = expected + 1;  // one spare byte tells the end without a second read
    read.m_data = static_cast<char*>(std::malloc(capacity));
    for (;;) {
        if (!read.m_data) return Refuse(path, "out of memory", error);
        if (read.m_size == capacity) {  // the file grew while it was read
            if (capacity > kMaxReadBytes) return Refuse(path, TooLarge(), error);
            capacity = std::min(capacity * 2 + 65536, kMaxReadBytes + 1);
            char* grown = static_cast<char*>(std::realloc(read.m_data, capacity));
            if (!grown) return Refuse(path, "out of memory", error);
            read.m_data = grown;
        }
        const ssize_t n = ::read(fd.get(), read.m_data + read.m_size, capacity - read.m_size);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = Describe("cannot read", path);
            return false;
        }
        if (n == 0) break;
        read.m_size += static_cast<std::size_t>(n);
    }
    std::swap(bytes->m_data, read.m_data);
    std::swap(bytes->m_size, read.m_size);
    return true;
}

bool ReadWholeFile(const std::string& path, std::string* data, std::string* error) {
    FileBytes bytes;
    if (!ReadFileBytes(path, &bytes, error)) return false;
    data->assign(bytes.data(), bytes.size());
    return true;
}

// Four independent lanes of 64-bit multiply and rotate rounds, folded at the
// end: each byte of a large file costs about half an instruction, a quarter
// of a byte-serial hash's, so that the digest stays small beside the parse.
ContentDigest DigestOf(std::string_view bytes) {
    constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
    constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
    const auto round = [](std::uint64_t lane, std::uint64_t word) {
        return std::rotl(lane + word * kPrime2, 31) * kPrime1;
    };
    const auto word = [](const char* at) {
        std::uint64_t w;
        std::memcpy(&w, at, sizeof w);
        return w;
    };
    std::uint64_t a = kPrime1, b = kPrime2, c = ~kPrime1, d = ~kPrime2;
    const char* at = bytes.data();
    const char* const end = at + bytes.size();
    for (; end - at >= 32; at += 32) {
        a = round(a, word(at));
        b = round(b, word(at + 8));
        c = round(c, word(at + 16));
        d = round(d, word(at + 24));
    }
    std::uint64_t hash = bytes.size();
    for (const std::uint64_t lane : {a, b, c, d}) hash = round(hash, lane);
    for (; end - at >= 8; at += 8) hash = round(hash, word(at));
    for (; at < end; ++at) hash = round(hash, static_cast<unsigned char>(*at));
    return {bytes.size(), static_cast<std::size_t>(hash ^ (hash >> 29))};
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const std::string parent = FolderOf(path);
    if (parent != path && parent != "." && parent != "/") MakeFolders(parent);
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace vandrelle
