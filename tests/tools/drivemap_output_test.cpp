// What drivemap writes about names it does not control: terminal text, the status line, JSON, and
// its reading of a map file's head.
#include "map_file_head.h"
#include "scan_progress.h"
#include "text_output.h"

#include "common/map_file_builder.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using drivemap::Printable;
using drivemap::TerminalText;
constexpr TerminalText kModes[] = {TerminalText::kUtf8, TerminalText::kSingleByte};

TEST(TerminalText, ControlsAreEscaped) {
    for (TerminalText mode : kModes) {
        EXPECT_EQ(Printable("C:\\\x1b]0;owned\x07\\x", mode), "C:\\\\x1B]0;owned\\x07\\x");
        EXPECT_EQ(Printable("a\x9b[2Jb\x7f", mode), "a\\x9B[2Jb\\x7F");
        EXPECT_EQ(Printable(std::string("nul\0\n", 5), mode), "nul\\x00\\x0A");
        EXPECT_EQ(Printable("two\nlines", mode, /*keepNewlines=*/true), "two\nlines");
    }
    // In UTF-8, letters whose last byte lies in 0x80-0x9F ("č", "П") pass; U+009B (CSI), bytes
    // that are no UTF-8, overlong forms, surrogates and cut sequences do not.
    EXPECT_EQ(Printable("\xc4\x8d\xd0\x9f\xc3\xa9", TerminalText::kUtf8), "\xc4\x8d\xd0\x9f\xc3\xa9");
    EXPECT_EQ(Printable("\xc2\x9b[2J\xff\xc0\x9b\xed\xa0\x80\xe2\x82", TerminalText::kUtf8),
              "\\xC2\\x9B[2J\\xFF\\xC0\\x9B\\xED\\xA0\\x80\\xE2\\x82");
    // A single-byte terminal takes every byte 0x80-0x9F as C1, and shows the others.
    EXPECT_EQ(Printable("\xc4\x8d\xe9", TerminalText::kSingleByte), "\xc4\\x8D\xe9");
}

TEST(StatusLine, DirectoryNamesCannotControlTheTerminal) {
    const std::string hostile = "C:\\A\x1b]0;title\x07\\\x1b[2J\x9b[2J\x7f\\\xc4\x8d\xc4\x8d\xc4\x8d\xc4\x8d";
    for (TerminalText mode : kModes) {
        // Cuts at every width that lands inside the name, its escapes and its two-byte letters.
        for (size_t width : {200, 60, 50, 49, 48, 47, 46, 45, 20, 1, 0}) {
            const std::string line =
                drivemap::FormatStatusLine({1234, 56789, "files", 2.5, hostile.c_str()}, width, mode);
            EXPECT_EQ(Printable(line, mode), line) << width;
            EXPECT_LE(line.size(), width > 0 ? width - 1 : 0);
        }
    }
    const std::string wide = drivemap::FormatStatusLine({1, 2, "files", 1, hostile.c_str()}, 200, TerminalText::kUtf8);
    EXPECT_NE(wide.find("1 dirs  2 files  2/s  0:01  C:\\A\\x1B]0;title\\x07\\\\x1B[2J\\x9B[2J\\x7F\\\xc4\x8d"),
              std::string::npos)
        << wide;
}

TEST(JsonOutput, WindowsTextIsCodePage1252AndAnyBytesGiveAsciiJson) {
    EXPECT_EQ(drivemap::Cp1252ToUtf8("C:\\\x80\x9b\xe9\xff"), "C:\\\xe2\x82\xac\xe2\x80\xba\xc3\xa9\xc3\xbf");
    std::set<std::string> decoded;
    for (int byte = 0; byte < 256; ++byte) decoded.insert(drivemap::Cp1252ToUtf8(std::string(1, char(byte))));
    EXPECT_EQ(decoded.size(), 256u) << "the decoding can be undone, the five undefined bytes too";

    const nlohmann::json value = {{"host", "/tmp/\xff\xfe\x1b[2J"}, {"windows", drivemap::Cp1252ToUtf8("C:\\\x9d")}};
    const std::string text = drivemap::JsonText(value);
    for (char c : text) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);
    const auto parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    EXPECT_EQ(parsed["host"], "/tmp/\xef\xbf\xbd\xef\xbf\xbd\x1b[2J");
    EXPECT_EQ(parsed["windows"], "C:\\\xc2\x9d");
}

std::optional<drivemap::MapFileHead> Parse(const std::string &bytes, uint64_t fileSize) {
    std::string error;
    auto head =
        drivemap::ParseMapFileHead(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), fileSize, error);
    EXPECT_EQ(head.has_value(), error.empty()) << error;
    return head;
}

TEST(MapFileHead, BlockCountsAreReadOnlyWhereTheyFitTheFile) {
    // A header and a drive table whose drives declare blocks that the bytes given do not hold.
    const std::string head = BuildMapFile({.drives = {{'C', {}, 3}, {'d', {}, 0x102}}});
    const uint64_t blocksFit = head.size() + 18 * (3 + 0x102);
    const auto parsed = Parse(head, blocksFit);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->drives.size(), 2u);
    EXPECT_EQ(parsed->drives[0].chLetter, 'C');
    EXPECT_EQ(parsed->drives[0].cBlocks, 3u);
    EXPECT_EQ(parsed->drives[1].chLetter, 'D') << "letters are found ignoring case";
    EXPECT_EQ(parsed->drives[1].cBlocks, 0x102u);
    EXPECT_TRUE(Parse(BuildMapFile({.bVersion = 4, .drives = {}}), 8)) << "a later version, and a map of no drives";

    EXPECT_FALSE(Parse(head, blocksFit - 1)) << "one byte short of the smallest blocks";
    EXPECT_FALSE(Parse(head.substr(0, head.size() - 1), blocksFit)) << "a cut drive table";
    EXPECT_FALSE(Parse(head, head.size() - 1)) << "given more bytes than the file has";
    EXPECT_FALSE(Parse(BuildMapFile({.bVersion = 2, .drives = {}}), 8));
    EXPECT_FALSE(Parse("NRPX" + BuildMapFile({}).substr(4), 8));
    EXPECT_FALSE(Parse("NRPS", 4));
    const std::string many = BuildMapFile({.drives = std::vector<MapFileDrive>(27)});
    EXPECT_FALSE(Parse(many, many.size()));
}

}  // namespace
