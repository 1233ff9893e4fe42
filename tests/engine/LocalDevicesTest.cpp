// SPDX-License-Identifier: GPL-3.0-or-later
#include "LocalDevices.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace vandrelle::test {
namespace {

TEST(LocalDevicesTest, MountedVolumesBecomeLetteredDrivesRootFirst) {
    const char* mounts =
        "proc /proc proc rw 0 0\n"
        "/dev/sdb1 /srv/data ext4 rw 0 0\n"
        "tmpfs /tmp tmpfs rw 0 0\n"
        "/dev/sda1 / ext4 rw 0 0\n"
        "/dev/sdc1 /media/USB\\040Stick vfat rw 0 0\n"
        "/dev/sda1 / ext4 rw 0 0\n";
    const std::vector<LocalDrive> drives = ParseMountedVolumes(mounts);
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[0].name, "System (C:)");
    EXPECT_EQ(drives[0].path, "/");
    EXPECT_EQ(drives[1].name, "USB Stick (D:)");
    EXPECT_EQ(drives[1].path, "/media/USB Stick");
    EXPECT_EQ(drives[2].name, "data (E:)");
    EXPECT_EQ(ShareName(drives[1]), "D_USB_Stick");
    EXPECT_EQ(ShareName(drives[0]), "C_System");

    std::string many;  // letters stop at Z
    for (int i = 0; i < 30; ++i) {
        many += "/dev/sd" + std::to_string(i) + " /m/v" + std::to_string(100 + i) + " ext4\n";
    }
    const auto lettered = ParseMountedVolumes(many);
    ASSERT_EQ(lettered.size(), 24u);
    EXPECT_EQ(lettered.back().name, "v123 (Z:)");
}

TEST(LocalDevicesTest, TheMachinesRootIsTheSystemDrive) {
    struct stat root {};
    ASSERT_EQ(::stat("/", &root), 0);
    if (major(root.st_dev) == 0) {
        GTEST_SKIP() << "the root file system is on no device here (a container?)";
    }
    const std::vector<LocalDrive> drives = MountedVolumes();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives[0].name, "System (C:)");
    EXPECT_EQ(drives[0].path, "/");
}

TEST(LocalDevicesTest, PortsAreNamedAfterTheirDevices) {
    TempDir dev;
    WriteFile(dev.file("ttyS0"), "");
    WriteFile(dev.file("ttyS2"), "");
    WriteFile(dev.file("lp0"), "");
    const auto ports = LocalPorts(dev.path());
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].name, "COM1");
    EXPECT_EQ(ports[1].name, "COM3");
    EXPECT_EQ(ports[1].path, dev.file("ttyS2"));
    EXPECT_EQ(ports[2].kind, "parallel");
    EXPECT_EQ(ports[2].name, "LPT1");
}

}  // namespace
}  // namespace vandrelle::test
