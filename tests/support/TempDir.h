// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace vandrelle::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Path of a file under tests/data.
std::string DataFile(const std::string& name);

// Whole file contents; fails the current test when it cannot be read.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);

}  // namespace vandrelle::test
