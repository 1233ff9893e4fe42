// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

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

bool WriteAndClose(Fd& fd, const std::string& path, std::string_view data, std::string* error);

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
    return WriteAndClose(fd, path, data, error);
}

bool WriteNewFile(const std::string& path, std::string_view data, mode_t mode, bool* exists,
                  std::string* error) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    *exists = fd.get() < 0 && errno == EEXIST;
    if (fd.get() < 0) {
        if (error) *error = Describe("cannot create", path);
        return false;
    }
    return WriteAndClose(fd, path, data, error);
}

namespace {

bool WriteAndClose(Fd& fd, const std::string& path, std::string_view data, std::string* error) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd.get(), p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = Describe("cannot write", path);
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
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

}  // namespace

bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        if (error) *error = Describe("cannot replace", to);
        return false;
    }
    // The rename is only durable once the folder's entry is on the disk.
    Fd dir(::open(FolderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode,
                         std::string* error, const std::string& tempSuffix) {
    const std::string temp = path + tempSuffix;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    ::unlink(temp.c_str());  // a leftover from an interrupted write must not pass on its mode
    if (!WriteWholeFile(temp, data, mode, error)) return false;
    return ReplaceFile(temp, path, error);
}

bool ReadWholeFile(const std::string& path, std::string* data, std::string* error) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (error) *error = Describe("cannot open", path);
        return false;
    }
    struct stat st {};
    const std::size_t expected =
        ::fstat(fd.get(), &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
    data->clear();
    data->resize(expected + 1);  // one spare byte tells the end of the file without a second read
    std::size_t used = 0;
    for (;;) {
        if (used == data->size()) data->resize(data->size() * 2 + 65536);
        ssize_t n = ::read(fd.get(), data->data() + used, data->size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = Describe("cannot read", path);
            return false;
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    data->resize(used);
    return true;
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
