// drivemap's reader of the settings file's system modules, which decides what `unused` leaves out,
// agrees with the library's own reader of the section on the shipped file and on odd ones.
#include <gtest/gtest.h>

#include "common/settings_machine.h"
#include "module_usage.h"
#include "settings_text.h"
#include "references/settings_file.h"
#include "support/path_utils.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

TEST(SystemFilesReader, AgreesWithTheLibrary) {
    std::ifstream in(PWDVMP32_SOURCE_DIR "/data/PURGWELL.DAT", std::ios::binary);
    const std::string texts[] = {
        std::string(std::istreambuf_iterator<char>(in), {}),
        // Blanks, comments, case, an OEM letter (0x84, a-umlaut), empty lines, a second group.
        "[SystemFiles]\r\n  kernel\r\n\t; gdi\r\nUSER\n\r\x84gypt\r\n\r\nmpr \r\n[systemfiles]\r\nsecond\r\n",
        // After another group, without a final line end: the last byte is never read.
        "; x\r\n[Other]\r\nkernel\r\n[SYSTEMFILES] (32-bit)\r\nwsock32",
        "[SystemFiles\nopen\n",
        "[Other]\r\nkernel\r\n",
    };
    for (const std::string &text : texts) {
        SettingsMachine machine;
        ASSERT_TRUE(machine.WriteSettings(text));
        LPSTR list = nullptr;
        drivemap::NameSet library;
        if (ReadSettingsSection("SystemFiles", &list)) {
            std::vector<std::string> entries = ListStrings(list);
            FreeLockedBuffer(list);
            for (size_t i = 1; i < entries.size(); ++i) library.insert(drivemap::LowerAnsi(entries[i]));
        }
        EXPECT_EQ(drivemap::SystemFilesOfSettings(text), library) << text.substr(0, 60);
    }
}

// The settings file is read whole up to 1 MiB, and cut there, whatever its size.
TEST(SettingsTextReader, ReadsUpToTheLimit) {
    const std::string path = testing::TempDir() + "settings_text_reader.dat";
    for (const size_t size : {size_t{0}, size_t{5000}, size_t{1} << 20, (size_t{1} << 20) + 4097}) {
        std::string text(size, 'x');
        for (size_t i = 0; i < size; i += 4093) text[i] = static_cast<char>('a' + i % 26);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        EXPECT_EQ(drivemap::ReadSettingsText(path), text.substr(0, size_t{1} << 20)) << size;
    }
    EXPECT_EQ(drivemap::ReadSettingsText(path + ".missing"), "");
    std::remove(path.c_str());
}

}  // namespace
