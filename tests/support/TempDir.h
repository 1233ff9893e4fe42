// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace vandrelle::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes away.
class TempDir {
public:
    TempDir() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "vandrelle-test-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets an environment variable for as long as the object lives; the old value,
// or its absence, comes back also when a failed assertion ends the test early.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Path of a file under tests/data.
inline std::string DataFile(const std::string& name) {
    return std::string(VANDRELLE_TEST_DATA) + "/" + name;
}

// Whole file contents; fails the current test when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::string data, error;
    EXPECT_TRUE(ReadWholeFile(path, &data, &error)) << error;
    return data;
}
inline void WriteFile(const std::string& path, const std::string& data) {
    std::string error;
    ASSERT_TRUE(WriteWholeFile(path, data, 0644, &error)) << error;
}

// Whether `text` holds `piece`; a failure shows both.
inline ::testing::AssertionResult HasText(const std::string& text, const std::string& piece) {
    if (text.find(piece) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << piece << "\" not in \"" << text << "\"";
}

// What stat tells of a path (lstat, when links are not followed); all zero,
// a st_mode of 0 included, when there is nothing there.
inline struct stat StatOf(const std::string& path, bool followLinks = true) {
    struct stat st {};
    if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) st = {};
    return st;
}
// The permission bits of a file, set-id and sticky bits included.
inline unsigned Permissions(const std::string& path) {
    return StatOf(path).st_mode & 07777;
}

}  // namespace vandrelle::test
