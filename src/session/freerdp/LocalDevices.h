// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vandrelle {

// A local volume offered to the remote session as a drive.
struct LocalDrive {
    std::string name;  // "System (C:)", "data (D:)": the letter stands before the last colon
    std::string path;  // the mount point
};

// The mounted volumes of the machine as the client's drive collection, from
// text in the format of /proc/self/mounts: every file system on a device
// ("/dev/..."), the root first as C:, the others by mount point as D:, E:, ...
// (at most up to Z:). Labels are the last part of the mount point.
std::vector<LocalDrive> ParseMountedVolumes(std::string_view mounts);
std::vector<LocalDrive> MountedVolumes();

// A drive as a device channel of the engine wants it named: the letter and
// the label, letters, digits and '_' only ("C_System").
std::string ShareName(const LocalDrive& drive);

// The serial and parallel ports present ("COM1" for /dev/ttyS0, "LPT1" for /dev/lp0),
// each as {kind, name, path} with kind "serial" or "parallel".
struct LocalPort {
    std::string kind;
    std::string name;
    std::string path;
};
std::vector<LocalPort> LocalPorts(const std::string& deviceFolder = "/dev");

}  // namespace vandrelle
