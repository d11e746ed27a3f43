// Memory running out inside the host layer: every C entry point fails the Win32 way (its failure
// result, ERROR_NOT_ENOUGH_MEMORY) instead of letting std::bad_alloc cross the C interface, and
// leaves no descriptor or file behind, with the n-th allocation and all after it failing
// (common/failing_allocator.h).
#include "common/drive_c_test.h"
#include "common/failing_allocator.h"

#include <dirent.h>

#include <functional>
#include <string>

namespace {

// Allocations succeed again: for a call's clean-up after it succeeded.
bool Disarmed() {
    FailAllocationsAfter(-1);
    return true;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}

class OutOfMemory : public DriveCTest {
protected:
    // Runs `call` with the n-th allocation failing, for n = 0, 1, ... until it runs without a
    // failure. `call` returns whether it succeeded; when it did not, the error must be
    // ERROR_NOT_ENOUGH_MEMORY. Returns the number of allocations the call makes.
    long Sweep(const char *what, const std::function<bool()> &call) {
        for (long n = 0; n < 10000; ++n) {
            SetLastError(0);
            FailAllocationsAfter(n);
            const bool succeeded = call(), failed = AllocationFailed();
            FailAllocationsAfter(-1);
            if (!failed) {
                EXPECT_TRUE(succeeded) << what;
                return n;
            }
            if (succeeded) continue;  // recovered from the failure
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY) << what << ", allocation " << n;
        }
        ADD_FAILURE() << what << " never ran without a failure";
        return -1;
    }
};

TEST_F(OutOfMemory, EveryCallFailsTheWin32Way) {
    for (const char *file : {"d/plain.txt", "d/Long File Name.txt", "d/d:c/inside.txt", "d/Sub/x.txt"})
        ASSERT_TRUE(tree_.AddFile(file, "data"));
    const std::string generated = "C:\\d\\D_C~C2CF", inside = generated + "\\inside.txt";  // d:c
    // Resolved once before counting: the directories of the last path resolved stay open.
    ASSERT_NE(GetFileAttributesA(generated.c_str()), INVALID_FILE_ATTRIBUTES) << "d:c is shown as D_C~C2CF";
    const int descriptors = OpenDescriptors();

    char buffer[MAX_PATH];
    WIN32_FIND_DATAA found;
    auto closed = [](HFILE file) { return file != HFILE_ERROR && _lclose(file) == 0; };
    const long allocations = Sweep("FindFirstFileA", [&] {
        HANDLE search = FindFirstFileA("C:\\d\\*.*", &found);
        return search != INVALID_HANDLE_VALUE && FindClose(search);
    });
    EXPECT_GT(allocations, 0) << "no allocation was made to fail";
    Sweep("_lopen", [&] { return closed(_lopen(inside.c_str(), OF_READ)); });
    Sweep("_lcreat", [&] { return closed(_lcreat("C:\\d\\LONGFI~1.TXT", 0)); });
    Sweep("GetFileAttributesA", [&] { return GetFileAttributesA(generated.c_str()) != INVALID_FILE_ATTRIBUTES; });
    Sweep("SetCurrentDirectoryA", [] { return SetCurrentDirectoryA("c:\\D\\sub") != FALSE; });
    Sweep("GetCurrentDirectoryA", [&] { return GetCurrentDirectoryA(sizeof buffer, buffer) != 0; });
    Sweep("GetFullPathNameA", [&] { return GetFullPathNameA("x\\..\\y.txt", sizeof buffer, buffer, nullptr) != 0; });
    Sweep("MoveFileExA", [] {
        return MoveFileExA("C:\\d\\plain.txt", "C:\\d\\moved.txt", 0) && Disarmed() &&
               MoveFileExA("C:\\d\\moved.txt", "C:\\d\\plain.txt", 0);
    });
    Sweep("HostMachine_MapDrive", [&] { return HostMachine_MapDrive('E', DRIVE_FIXED, tree_.Root().c_str()) != 0; });
    Sweep("SetEnvironmentVariableA", [] { return SetEnvironmentVariableA("PATH", "C:\\WINDOWS;C:\\d") != FALSE; });
    Sweep("GetTempFileNameA",
          [&] { return GetTempFileNameA("C:\\d", "PWD", 0, buffer) != 0 && Disarmed() && DeleteFileA(buffer); });
    EXPECT_EQ(OpenDescriptors(), descriptors) << "a failure left a descriptor open";
    EXPECT_EQ(FindFirstFileA("C:\\d\\*.TMP", &found), INVALID_HANDLE_VALUE) << "a failure left a temporary file";
}

}  // namespace
