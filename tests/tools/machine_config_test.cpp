// drivemap's description of this host as a Windows machine.
#include "machine_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace drivemap;

TEST(MachineConfig, LocalDisksComeFromBlockDeviceFileSystemsInMountOrder) {
    const fs::path dir = fs::temp_directory_path() / ("mountinfo-" + std::to_string(::getpid()));
    fs::create_directories(dir / "data");
    fs::create_directories(dir / "more data");
    const fs::path info = dir / "mountinfo";
    std::ofstream(info) << "20 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                        << "21 20 0:5 / /proc rw - proc proc rw\n"
                        << "22 20 8:2 / " << (dir / "data").string() << " rw shared:1 - xfs /dev/sdb1 rw\n"
                        << "23 20 0:40 / /run rw - tmpfs tmpfs rw\n"
                        << "24 20 8:3 /sub " << (dir / "data").string() << " rw - ext4 /dev/sdc1 rw\n"
                        << "25 20 0:41 / /mnt/net rw - nfs4 server:/x rw\n"
                        << "26 20 8:4 / " << dir.string() << "/more\\040data rw - btrfs /dev/sdd1 rw\n";
    const auto points = LocalDiskMountPoints(info.string());
    // The temporary directories all lie on one host file system, so only the first of them is a
    // new disk: the others are second mounts of a file system already listed.
    ASSERT_GE(points.size(), 1u);
    EXPECT_EQ(points[0], "/");
    for (const auto &p : points) {
        EXPECT_EQ(p.find("proc"), std::string::npos) << p;
        EXPECT_NE(p, "/run");
    }
    fs::remove_all(dir);
}

TEST(MachineConfig, HostPathBecomesWindowsPathOnMappedDrives) {
    const auto config = HostMachineConfig({"/", "/srv/data"}, "/usr/bin:/srv/data/tools/:/srv/database::/bin");
    ASSERT_EQ(config.drives.size(), 2u);
    EXPECT_EQ(config.drives[0].letter, 'C');
    EXPECT_EQ(config.drives[1].letter, 'D');
    EXPECT_EQ(config.path, "C:\\usr\\bin;D:\\tools;C:\\srv\\database;C:\\bin");

    const std::vector<DriveMapping> onlyData = {{'E', DRIVE_FIXED, "/srv/data/"}};
    EXPECT_EQ(WindowsPathList("/usr/bin:/srv/data", onlyData), "E:\\");
    EXPECT_FALSE(WindowsPathOf("/srv/database", onlyData));
}

TEST(MachineConfig, DriveOptions) {
    std::string error;
    auto d = ParseDriveOption("x=/tmp/a,b,remote", error);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->letter, 'X');
    EXPECT_EQ(d->hostDir, "/tmp/a,b");
    EXPECT_EQ(d->type, unsigned(DRIVE_REMOTE));
    EXPECT_EQ(ParseDriveOption("D=/srv", error)->type, unsigned(DRIVE_FIXED));
    for (const char *bad : {"", "D", "D=", "DD=/x", "1=/x", "D=/x,floppy", "D=,fixed"}) {
        SCOPED_TRACE(bad);
        error.clear();
        EXPECT_FALSE(ParseDriveOption(bad, error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(*VersionForPlatform("95"), 0xC3B60004UL);
    EXPECT_STREQ(PlatformName(0x80000003UL), "win32s");
    EXPECT_STREQ(PlatformName(0x05650004UL), "nt");
    EXPECT_FALSE(VersionForPlatform("xp"));
}
