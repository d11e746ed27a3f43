// The emulated file system where nothing else reaches it: Windows paths resolved ignoring case and
// through short names, links never followed, special files never opened, other file systems never
// listed.
#include "common/drive_c_test.h"
#include "host_machine.h"

#include <gtest/gtest.h>
#include <ctype.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class FileSystem : public DriveCTest {
protected:
    // Every record a search returns, in order; none when FindFirstFileA fails (error in lastError).
    std::vector<WIN32_FIND_DATAA> Find(const std::string &pattern) {
        std::vector<WIN32_FIND_DATAA> found;
        WIN32_FIND_DATAA data;
        HANDLE h = FindFirstFileA(pattern.c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return lastError = GetLastError(), found;
        do found.push_back(data);
        while (FindNextFileA(h, &data));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(h));
        return found;
    }
    Strings Names(const std::string &pattern) {
        Strings names;
        for (const WIN32_FIND_DATAA &data : Find(pattern)) names.push_back(data.cFileName);
        return names;
    }
    // The host path a Windows path resolves to, "" when it does not.
    std::string Resolve(const std::string &windowsPath) {
        char host[4096];
        return HostMachine_ResolvePath(windowsPath.c_str(), host, sizeof host) ? host : "";
    }
    DWORD lastError = 0;
};

TEST_F(FileSystem, CaseInsensitiveAndShortNameResolution) {
    // "caf\xe9.txt" in code page 1252 bytes, as a Windows name would be.
    for (const char *file : {"Readme.TXT", "caf\xe9.txt", "abc", "ABC", "Program Files/Long File Name.text"})
        ASSERT_TRUE(tree_.AddFile(file));
    ASSERT_TRUE(tree_.AddDir("data/deep"));
    ASSERT_TRUE(HostMachine_SubstDrive('S', "C:\\DATA"));
    const struct {
        const char *path, *host;
    } cases[] = {
        {"C:\\README.txt", "Readme.TXT"},
        {"C:\\CAF\xc9.TXT", "caf\xe9.txt"},
        {"c:\\abc", "abc"},
        {"C:\\ABC", "ABC"},  // an exact match wins over the other case
        {"C:\\Abc", "ABC"},  // no exact match: the first by bytes
        {"C:\\PROGRA~1\\LONGFI~1.TEX", "Program Files/Long File Name.text"},
        {"C:\\program files\\new.txt", "Program Files/new.txt"},
        {"S:\\Deep", "data/deep"},
        {"C:\\", ""},
        {"C:\\missing\\x", nullptr},
        {"C:\\Readme.TXT\\x", nullptr} /* a file is no directory */,
        {"Q:\\x", nullptr},
    };
    for (const auto &c : cases) EXPECT_EQ(Resolve(c.path), c.host ? tree_.Path(c.host) : "") << c.path;
    char host[8];
    EXPECT_EQ(HostMachine_ResolvePath("C:\\Readme.TXT", host, sizeof host), 0);  // does not fit
    std::string longPath = "C:";
    while (longPath.size() < 300) longPath += "\\abcdefgh";
    SetLastError(0);
    EXPECT_EQ(_lopen(longPath.c_str(), OF_READ), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(FileSystem, ShortNamesAreGeneratedAndStable) {
    // In creation order: Program Data gets ~1 though it comes second.
    std::vector<std::pair<std::string, std::string>> names = {
        {"Program Files", "PROGRA~2"},
        {"Program Data", "PROGRA~1"},
        {".profile", "PROFIL~1"},
        {"a+b.text", "A_B~1.TEX"},
        {"LONGNA~1.TXT", ""},
        {"longname1.txt", "LONGNA~2.TXT"},  // ~1 is taken by a real name
        {"x.y.z", "XY~1.Z"},
        {"12345678.123", ""},                       // the longest valid short name
        {"\xC3\xA9t\xC3\xA9.txt", "__T__~1.TXT"}};  // UTF-8 bytes make a long name
    // Ten names of one basis, numbered in byte order ("Basisname 1", "Basisname 10", "Basisname 2",
    // ...): the tenth number leaves room for five characters of it.
    for (const int i : {1, 10, 2, 3, 4, 5, 6, 7, 8, 9}) {
        const std::string number = std::to_string(names.size() - 8);
        names.push_back(
            {"Basisname " + std::to_string(i) + ".txt", (number.size() == 1 ? "BASISN~" : "BASIS~") + number + ".TXT"});
    }
    for (const auto &[name, shortName] : names) ASSERT_TRUE(tree_.AddFile("d/" + name));
    const std::map<std::string, std::string> expected(names.begin(), names.end());
    auto shortNames = [&] {
        std::map<std::string, std::string> found;
        for (const WIN32_FIND_DATAA &data : Find("C:\\d\\*"))
            if (expected.count(data.cFileName)) found[data.cFileName] = data.cAlternateFileName;
        return found;
    };
    EXPECT_EQ(shortNames(), expected);
    ASSERT_TRUE(tree_.AddFile("d/unrelated file"));
    EXPECT_EQ(shortNames(), expected);
    EXPECT_EQ(Names("C:\\d\\LONGNA~2.TXT"), Strings{"longname1.txt"});
}

// Each name Windows cannot hold is listed under a generated 8.3 name that reaches it everywhere a
// path is resolved; the name itself reaches nothing.
TEST_F(FileSystem, NamesWindowsCannotHoldAreShownUnderGeneratedNames) {
    const Strings invalid = {"a:b",         "a?b",  "a*b.txt", "back\\slash", "q\"<>|",
                             "ctl\x01\x1f", "dot.", "space ",  "...",         ".hid:den"};
    for (const std::string &name : invalid) ASSERT_TRUE(tree_.AddFile("d/" + name + "/f.txt", name));
    ASSERT_TRUE(tree_.AddFile("d/plain.txt"));
    ASSERT_TRUE(tree_.AddFile("d/Long Name.txt"));
    std::map<std::string, std::string> shown;  // host name -> generated name
    const std::regex generated(R"(\.?[A-Z0-9_]{1,3}~[0-9A-F]{4}(\.[A-Z0-9_]{1,3})?)");
    for (const WIN32_FIND_DATAA &data : Find("C:\\d\\*.*")) {
        const std::string name = data.cFileName, inside = "C:\\d\\" + name + "\\f.txt";
        if (name == "." || name == ".." || name == "plain.txt" || name == "Long Name.txt") continue;
        EXPECT_TRUE(std::regex_match(name, generated)) << name;
        EXPECT_STREQ(data.cAlternateFileName, "") << name;
        // The host name comes back as the content of the file inside.
        HFILE file = _lopen(inside.c_str(), OF_READ);
        char content[64] = "";
        EXPECT_NE(file, HFILE_ERROR) << name;
        if (file != HFILE_ERROR) content[_lread(file, content, sizeof content - 1)] = '\0', _lclose(file);
        EXPECT_TRUE(shown.emplace(content, name).second) << name;
        EXPECT_EQ(Resolve("C:\\d\\" + name), tree_.Path("d/" + std::string(content)));
        EXPECT_EQ(GetFileAttributesA(inside.c_str()), (DWORD)FILE_ATTRIBUTE_NORMAL) << name;
        EXPECT_TRUE(SetCurrentDirectoryA(("c:\\D\\" + name).c_str())) << name;
        EXPECT_EQ(Names("f.txt"), Strings{"f.txt"}) << name;
        EXPECT_EQ(name[0] == '.', content[0] == '.') << "a leading dot stays: " << name;
    }
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_EQ(shown.size(), invalid.size());
    for (const std::string &name : invalid) {
        SetLastError(0);
        EXPECT_EQ(GetFileAttributesA(("C:\\d\\" + name + "\\f.txt").c_str()), INVALID_FILE_ATTRIBUTES) << name;
        EXPECT_NE(GetLastError(), (DWORD)ERROR_SUCCESS);
    }
    // Renaming and deleting through a generated name act on the host entry.
    const std::string ab = "C:\\d\\" + shown["a:b"];
    EXPECT_TRUE(MoveFileExA((ab + "\\f.txt").c_str(), "C:\\d\\moved.txt", 0));
    EXPECT_TRUE(tree_.Exists("d/moved.txt"));
    EXPECT_FALSE(tree_.Exists("d/a:b/f.txt"));
    EXPECT_EQ(_lclose(_lcreat((ab + "\\new.txt").c_str(), 0)), 0);
    EXPECT_TRUE(tree_.Exists("d/a:b/new.txt"));
    EXPECT_TRUE(DeleteFileA((ab + "\\NEW.TXT").c_str()));
    EXPECT_FALSE(tree_.Exists("d/a:b/new.txt"));
    SetLastError(0);
    EXPECT_EQ(_lcreat("C:\\d\\x:y", 0), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
}

// A generated name depends on the name alone, not on its siblings, unless a sibling already holds
// it: then it moves on, the same way every time.
TEST_F(FileSystem, GeneratedNamesAreStableAndNeverTaken) {
    auto generatedFor = [&](const std::string &dir, const std::string &host) {
        for (const WIN32_FIND_DATAA &data : Find("C:\\" + dir + "\\*"))
            if (Resolve("C:\\" + dir + "\\" + data.cFileName) == tree_.Path(dir + "/" + host))
                return std::string(data.cFileName);
        return std::string();
    };
    ASSERT_TRUE(tree_.AddFile("one/a:b"));
    ASSERT_TRUE(tree_.AddFile("two/a:b"));
    ASSERT_TRUE(tree_.AddFile("two/A:B"));
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(tree_.AddFile("two/sibling " + std::to_string(i) + ":"));
    const std::string alone = generatedFor("one", "a:b");
    ASSERT_EQ(alone.substr(0, 4), "A_B~");
    EXPECT_EQ(generatedFor("two", "a:b"), alone);
    EXPECT_NE(generatedFor("two", "A:B"), alone) << "case twins among such names are both shown";
    // A real entry with that name, in another case, takes it: the generated name moves on.
    std::string lower = alone;
    for (char &c : lower) c = static_cast<char>(tolower(c));
    ASSERT_TRUE(tree_.AddFile("one/" + lower, "real"));
    const std::string moved = generatedFor("one", "a:b");
    EXPECT_NE(moved, alone);
    EXPECT_EQ(moved.substr(0, 4), "A_B~");
    EXPECT_EQ(Resolve("C:\\one\\" + alone), tree_.Path("one/" + lower));
    EXPECT_EQ(generatedFor("one", "a:b"), moved);
}

// What listings report to the observer: "reason directory hostName shownAs" lines.
struct ObservedListings {
    Strings lines;
    static void Hear(void *context, unsigned reason, const char *directory, const char *hostName, const char *shownAs) {
        static_cast<ObservedListings *>(context)->lines.push_back(std::to_string(reason) + " " + directory + " " +
                                                                  hostName + " " + shownAs);
    }
    ObservedListings() { HostMachine_ObserveListings(Hear, this); }
    ~ObservedListings() { HostMachine_ObserveListings(nullptr, nullptr); }
};

TEST_F(FileSystem, ListingsReportWhatTheyLeaveOutOrTheLibraryPassesOver) {
    // C:\PPP...\QQQ...\RRR... is 185 characters: names of 113 (files) and 108 (directories) make
    // paths of exactly 299, one more passes.
    const std::string deep = std::string(60, 'p') + "/" + std::string(60, 'q') + "/" + std::string(60, 'r');
    for (const std::string &file :
         Strings{"a:b", "Twin", "twin", "TWIN", ".profile", "plain.txt", std::string(113, 'f'), std::string(114, 'g')})
        ASSERT_TRUE(tree_.AddFile(deep + "/" + file));
    for (const std::string &dir : Strings{".git", "c:d", ".e:f", std::string(109, 'h'), std::string(110, 'i')})
        ASSERT_TRUE(tree_.AddDir(deep + "/" + dir));
    ASSERT_EQ(truncate64(tree_.Path(deep + "/plain.txt").c_str(), int64_t{1} << 32), 0);  // sparse
    std::string dir = "C:\\" + deep;
    std::replace(dir.begin(), dir.end(), '/', '\\');
    ASSERT_EQ(dir.size(), 185u);
    ObservedListings observed;
    Strings names = Names(dir + "\\*.*");
    auto shownAs = [&](const std::string &host) {
        for (const std::string &name : names)
            if (Resolve(dir + "\\" + name) == tree_.Path(deep + "/" + host)) return name;
        return std::string("?");
    };
    const std::string prefix = " " + dir + " ";
    const Strings expected = {
        "1" + prefix + ".e:f " + shownAs(".e:f"),
        "6" + prefix + ".e:f " + shownAs(".e:f"),
        "6" + prefix + ".git .git",
        "2" + prefix + "Twin Twin",
        "1" + prefix + "a:b " + shownAs("a:b"),
        "1" + prefix + "c:d " + shownAs("c:d"),
        "7" + prefix + std::string(114, 'g') + " " + std::string(114, 'g'),
        "7" + prefix + std::string(110, 'i') + " " + std::string(110, 'i'),
        "8" + prefix + "plain.txt plain.txt",
        "2" + prefix + "twin twin",
    };
    EXPECT_EQ(observed.lines, expected);
    EXPECT_EQ(std::count(names.begin(), names.end(), "TWIN"), 1);

    // Once per directory however it is listed, until the observer is set again; a lookup of one
    // name is no listing; with no observer, no report.
    ASSERT_TRUE(HostMachine_SubstDrive('S', dir.c_str()));
    for (const std::string &listing : {dir + "\\*", "c" + dir.substr(1) + "\\?:b", std::string("S:\\*.*")})
        Names(listing);
    EXPECT_EQ(observed.lines.size(), expected.size());
    HostMachine_ObserveListings(ObservedListings::Hear, &observed);
    Names(dir + "\\*");
    EXPECT_EQ(observed.lines.size(), 2 * expected.size());
}

TEST_F(FileSystem, LinksAndSpecialFilesAreListedButNeverFollowedOrOpened) {
    ASSERT_TRUE(tree_.AddFile("d/target.txt", "data"));
    ASSERT_TRUE(tree_.AddDir("d/realdir"));
    ASSERT_TRUE(tree_.AddFifo("d/fifo"));
    const char *links[][2] = {
        {"dirlink", "realdir"}, {"filelink", "target.txt"}, {"loop", "loop"}, {"dangling", "nowhere"}};
    for (const auto &link : links) ASSERT_TRUE(tree_.AddSymlink(std::string("d/") + link[0], link[1]));
    std::map<std::string, DWORD> attributes;
    for (const WIN32_FIND_DATAA &data : Find("C:\\d\\*")) attributes[data.cFileName] = data.dwFileAttributes;
    for (const auto &link : links) EXPECT_EQ(attributes[link[0]], (DWORD)FILE_ATTRIBUTE_REPARSE_POINT) << link[0];
    EXPECT_EQ(attributes["fifo"], (DWORD)FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(Names("C:\\d\\dirlink\\*").empty());
    EXPECT_EQ(lastError, (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\d\\dirlink"));
    // Opening a FIFO without a writer would block: these must return at once.
    for (const char *path : {"C:\\d\\filelink", "C:\\d\\loop", "C:\\d\\fifo"})
        EXPECT_EQ(_lopen(path, OF_READ), HFILE_ERROR) << path;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED) << "the FIFO's";
    EXPECT_EQ(_lopen("C:\\d\\fifo", OF_WRITE), HFILE_ERROR);
    for (const char *path : {"C:\\d\\dangling", "C:\\d\\fifo"}) EXPECT_EQ(_lcreat(path, 0), HFILE_ERROR) << path;
    EXPECT_FALSE(tree_.Exists("nowhere"));
    EXPECT_TRUE(DeleteFileA("C:\\d\\filelink"));
    EXPECT_FALSE(tree_.Exists("d/filelink"));
    EXPECT_EQ(tree_.ReadFile("d/target.txt"), "data");
    ASSERT_TRUE(HostMachine_MapDrive('Z', DRIVE_FIXED, "/"));
    EXPECT_EQ(_lopen("Z:\\dev\\null", OF_READ), HFILE_ERROR);
}

// A search hands out the directory as it was when it began, whatever changes in it meanwhile;
// two searches open at once (a walk nested in a walk) each keep their own place.
TEST_F(FileSystem, ASearchHandsOutTheDirectoryAsItWasWhenItBegan) {
    for (const char *name : {"a.txt", "b.txt", "c.txt", "skip.dat"})
        ASSERT_TRUE(tree_.AddFile(std::string("d/") + name, "abc"));
    ASSERT_TRUE(tree_.AddFile("d/sub/inner.txt", "x"));
    WIN32_FIND_DATAA data, inner;
    HANDLE h = FindFirstFileA("C:\\d\\*.txt", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "a.txt");
    ASSERT_EQ(unlink(tree_.Path("d/b.txt").c_str()), 0);
    ASSERT_TRUE(tree_.AddFile("d/c.txt", "longer now"));
    ASSERT_TRUE(tree_.AddFile("d/added.txt", ""));
    HANDLE hInner = FindFirstFileA("C:\\d\\sub\\*", &inner);
    ASSERT_NE(hInner, INVALID_HANDLE_VALUE);
    Strings names, innerNames = {inner.cFileName};
    std::vector<DWORD> sizes;
    while (FindNextFileA(h, &data)) {
        names.push_back(data.cFileName);
        sizes.push_back(data.nFileSizeLow);
        if (FindNextFileA(hInner, &inner)) innerNames.push_back(inner.cFileName);
    }
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    EXPECT_EQ(names, (Strings{"b.txt", "c.txt"}));
    EXPECT_EQ(sizes, (std::vector<DWORD>{3, 3}));
    EXPECT_EQ(innerNames, (Strings{".", "..", "inner.txt"}));
    EXPECT_FALSE(FindNextFileA(h, &data)) << "the end stays the end";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    EXPECT_TRUE(FindClose(hInner));
    EXPECT_FALSE(FindNextFileA(h, &data));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

// Between a listing's lookup and its reading, the hook swaps the listed directory, or its parent,
// for a link to another tree: nothing of that tree may be listed.
TEST_F(FileSystem, ADirectorySwappedForALinkDuringAListingIsNeverFollowed) {
    TempTree outside;
    ASSERT_TRUE(outside.AddFile("x/secret.txt"));
    ASSERT_TRUE(outside.AddFile("secret.txt"));
    struct Swap {
        std::string victim, target;
        static void Run(void *context, const char *) {
            auto *swap = static_cast<Swap *>(context);
            ASSERT_EQ(rename(swap->victim.c_str(), (swap->victim + ".old").c_str()), 0);
            ASSERT_EQ(symlink(swap->target.c_str(), swap->victim.c_str()), 0);
        }
    };
    for (const char *victim : {"d/x", "d"}) {
        SCOPED_TRACE(victim);
        TempTree disk;
        ASSERT_TRUE(disk.AddFile("d/x/own.txt"));
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, disk.Root().c_str()));
        Swap swap{disk.Path(victim), outside.Path(victim == std::string("d") ? "" : "x")};
        HostMachine_SetListingHook(Swap::Run, &swap);
        const Strings names = Names("C:\\d\\x\\*");
        HostMachine_SetListingHook(nullptr, nullptr);
        EXPECT_TRUE(names.empty() || names == (Strings{".", "..", "own.txt"})) << ::testing::PrintToString(names);
    }
}

// Directories kept open from one resolution to the next are taken again only while their names
// still lead to them.
TEST_F(FileSystem, ADirectoryReplacedBetweenTwoLookupsIsLookedUpAfresh) {
    ASSERT_TRUE(tree_.AddFile("a/b/old.txt"));
    ASSERT_EQ(Names("C:\\a\\b\\*.txt"), Strings{"old.txt"});
    ASSERT_EQ(rename(tree_.Path("a").c_str(), tree_.Path("gone").c_str()), 0);
    ASSERT_TRUE(tree_.AddFile("a/b/new.txt"));
    EXPECT_EQ(Names("C:\\a\\b\\*.txt"), Strings{"new.txt"});
    ASSERT_EQ(rename(tree_.Path("a").c_str(), tree_.Path("gone2").c_str()), 0);
    ASSERT_TRUE(tree_.AddSymlink("a", "gone"));
    EXPECT_TRUE(Names("C:\\a\\b\\*.txt").empty());
    EXPECT_EQ(lastError, (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA("C:\\a\\b\\old.txt"), INVALID_FILE_ATTRIBUTES);
    // The drive's root itself moved away, and made again under its name.
    ASSERT_EQ(unlink(tree_.Path("a").c_str()), 0);
    ASSERT_EQ(rename(tree_.Path("gone2").c_str(), tree_.Path("a").c_str()), 0);
    ASSERT_EQ(Names("C:\\a\\b\\*.txt"), Strings{"new.txt"});
    const std::string moved = tree_.Root() + ".moved";
    ASSERT_EQ(rename(tree_.Root().c_str(), moved.c_str()), 0);
    ASSERT_TRUE(tree_.AddFile("a/b/newest.txt"));
    EXPECT_EQ(Names("C:\\a\\b\\*.txt"), Strings{"newest.txt"});
    ASSERT_EQ(std::system(("rm -r '" + moved + "'").c_str()), 0);
}

TEST_F(FileSystem, OtherFileSystemsAreNotListed) {
    struct stat root, proc;
    if (stat("/", &root) != 0 || stat("/proc", &proc) != 0 || root.st_dev == proc.st_dev)
        GTEST_SKIP() << "/proc is not a separate file system here";
    ASSERT_TRUE(HostMachine_MapDrive('Z', DRIVE_FIXED, "/"));
    const Strings names = Names("Z:\\*.*");
    EXPECT_EQ(std::count(names.begin(), names.end(), "proc"), 0);
    EXPECT_TRUE(Names("Z:\\proc\\*").empty());
    EXPECT_EQ(lastError, (DWORD)ERROR_PATH_NOT_FOUND);
}

}  // namespace
