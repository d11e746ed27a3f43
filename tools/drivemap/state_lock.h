// One writer at a time: build and sync hold an exclusive lock on the state directory from before
// the map is loaded until after it is saved. A second writer waits for the first to finish. The
// lock is flock(2) on the directory itself, so no lock file appears in it (the state directory may
// lie on a mapped drive) and a run that dies releases it with its descriptors. Readers take no
// lock: the library saves to a temporary file and renames it over the map file, so a reader opens
// either the previous map or the new one, whole.
#pragma once

#include <functional>
#include <string>

namespace drivemap {

class StateLock {
public:
    StateLock() = default;
    StateLock(const StateLock &) = delete;
    StateLock &operator=(const StateLock &) = delete;
    ~StateLock();

    // Takes the lock on `dir`; when another process holds it, calls `onWait` once and waits.
    // False with `error` set when the directory cannot be opened or locked.
    bool Acquire(const std::string &dir, const std::function<void()> &onWait, std::string &error);

private:
    int fd_ = -1;
};

}  // namespace drivemap
