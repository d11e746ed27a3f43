// drivemap's description of this host as a Windows machine.
#include "machine_config.h"

#include "common/temp_tree.h"

#include <gtest/gtest.h>

#include <regex>

using namespace drivemap;

// The root file system, then each block-device file system once, in mount order. Links to /proc
// stand in for mount points of file systems other than the root's.
TEST(MachineConfig, LocalDisksComeFromBlockDeviceFileSystemsInMountOrder) {
    TempTree tree;
    ASSERT_TRUE(tree.AddSymlink("disk one", "/proc"));
    ASSERT_TRUE(tree.AddSymlink("disk", "/proc"));
    const std::string mountinfo =
        "20 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "21 20 0:5 / /proc rw - proc proc rw\n"
        "22 20 0:40 / /run rw - tmpfs tmpfs rw\n"
        "23 20 0:41 / /mnt/net rw - nfs4 server:/x rw\n"
        "24 20 8:2 /sub @/disk rw - ext4 /dev/sdb1 rw\n"
        "25 20 8:3 / @/disk\\040one rw shared:1 - xfs /dev/sdc1 rw\n"
        "26 20 8:4 / @/disk rw - btrfs /dev/sdd1 rw\n";
    ASSERT_TRUE(tree.AddFile("mountinfo", std::regex_replace(mountinfo, std::regex("@"), tree.Root())));
    EXPECT_EQ(LocalDiskMountPoints(tree.Path("mountinfo")), (std::vector<std::string>{"/", tree.Path("disk one")}));
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
        error.clear();
        EXPECT_FALSE(ParseDriveOption(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}
