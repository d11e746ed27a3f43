// drivemap's scanning modes: its default settings read today's executables, --classic keeps a
// second map built by the library's default rules, and stats says which rules each map follows.
#include "tools/drivemap_runner.h"

namespace {

class DrivemapScanning : public DrivemapOnTree {
protected:
    void SetUp() override {
        // A 64-bit console program whose imports lie in ".rdata", as today's linkers put them.
        ASSERT_TRUE(tree_.AddFile("Tools/tool64.exe", BuildPeFile({.subsystem = 3,
                                                                   .pe32Plus = true,
                                                                   .sections = {".text", ".rdata"},
                                                                   .imports = {"KERNEL32.dll", "helper64.dll"}})));
        ASSERT_TRUE(tree_.AddFile("Tools/helper64.dll", BuildPeFile({.pe32Plus = true})));
    }
};

TEST_F(DrivemapScanning, ModernMapFindsWhatTheClassicOneMisses) {
    for (const char *mode : {"", "--classic "}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(Drivemap(Machine() + mode + "build").exitCode, 0);
    }
    const Outcome modern = Drivemap(Machine() + "refs C:/Tools/helper64.dll");
    EXPECT_EQ(modern.exitCode, 0) << modern.err;
    EXPECT_EQ(modern.out, "C:\\Tools\\Tool64.exe\n");  // a lower-case 8.3 name as the map spells it
    const Outcome classic = Drivemap(Machine() + "--classic refs C:/Tools/helper64.dll");
    EXPECT_EQ(classic.exitCode, 1) << classic.err;
    EXPECT_EQ(classic.out, "");

    const json modernStats = Json(Drivemap(Machine() + "--json stats"));
    EXPECT_EQ(modernStats["scanning"]["mode"], "modern");
    EXPECT_EQ(modernStats["scanning"]["subsystems"], json::array({3, 5, 7}));
    EXPECT_EQ(modernStats["total"]["peExecutables"], 2);
    const json classicStats = Json(Drivemap(Machine() + "--classic --json stats"));
    EXPECT_EQ(classicStats["scanning"]["mode"], "classic");
    EXPECT_EQ(classicStats["total"]["peExecutables"], 1) << "the console program is not scanned";
    EXPECT_NE(Drivemap(Machine() + "--classic stats").out.find("Scanning: classic\n"), npos);
    EXPECT_NE(Drivemap(Machine() + "stats")
                  .out.find("Scanning: modern (PE32+, imports in any section, "
                            "delay-load imports, subsystems 3, 5, 7)\n"),
              npos);
    // The two maps lie apart: the classic one in the state directory's "classic".
    EXPECT_TRUE(std::filesystem::exists(state_.Path("PWDRVMAP.DAT")));
    EXPECT_TRUE(std::filesystem::exists(state_.Path("classic/PWDRVMAP.DAT")));
    EXPECT_EQ(ReadHostFile(state_.Path("classic/PURGWELL.DAT")).find("[Scanning]"), npos);
}

}  // namespace
