// SPDX-License-Identifier: GPL-3.0-or-later
#include "LocalDevices.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vandrelle {
namespace {

// Mount points escape space, tab, newline and backslash as octal (\040).
std::string Unescape(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        auto digit = [&](std::size_t k) { return field[k] >= '0' && field[k] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && digit(i + 1) && digit(i + 2) &&
            digit(i + 3)) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

}  // namespace

std::vector<LocalDrive> ParseMountedVolumes(std::string_view mounts) {
    std::vector<std::string> points;
    std::istringstream lines{std::string(mounts)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string source, point;
        if (!(fields >> source >> point) || !source.starts_with("/dev/")) continue;
        point = Unescape(point);
        if (std::find(points.begin(), points.end(), point) == points.end()) {
            points.push_back(point);
        }
    }
    std::sort(points.begin(), points.end(), [](const std::string& a, const std::string& b) {
        return a == "/" ? b != "/" : b == "/" ? false : a < b;
    });
    std::vector<LocalDrive> drives;
    char letter = 'C';
    for (const std::string& point : points) {
        if (letter > 'Z') break;
        const std::string label =
            point == "/" ? "System" : std::filesystem::path(point).filename().string();
        drives.push_back({label + " (" + letter + ":)", point});
        ++letter;
    }
    return drives;
}

std::vector<LocalDrive> MountedVolumes() {
    std::ifstream in("/proc/self/mounts");
    std::stringstream text;
    text << in.rdbuf();
    return ParseMountedVolumes(text.str());
}

std::string ShareName(const LocalDrive& drive) {
    const auto colon = drive.name.rfind(':');
    std::string name;
    if (colon != std::string::npos && colon > 0) name = std::string(1, drive.name[colon - 1]) + "_";
    const auto paren = drive.name.rfind(" (");
    for (const char c : drive.name.substr(0, paren)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

std::vector<LocalPort> LocalPorts(const std::string& deviceFolder) {
    std::vector<LocalPort> ports;
    for (int i = 0; i < 32; ++i) {
        const std::string serial = deviceFolder + "/ttyS" + std::to_string(i);
        if (std::filesystem::exists(serial)) {
            ports.push_back({"serial", "COM" + std::to_string(i + 1), serial});
        }
    }
    for (int i = 0; i < 8; ++i) {
        const std::string parallel = deviceFolder + "/lp" + std::to_string(i);
        if (std::filesystem::exists(parallel)) {
            ports.push_back({"parallel", "LPT" + std::to_string(i + 1), parallel});
        }
    }
    return ports;
}

}  // namespace vandrelle
