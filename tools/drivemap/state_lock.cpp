#include "state_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace drivemap {

StateLock::~StateLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
}

bool StateLock::Acquire(const std::string &dir, const std::function<void()> &onWait, std::string &error) {
    fd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        error = "cannot open the state directory " + dir + " to lock it: " + std::strerror(errno);
        return false;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EWOULDBLOCK) {
        onWait();
        int result;
        while ((result = flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {}
        if (result == 0) return true;
    }
    error = "cannot lock the state directory " + dir + ": " + std::strerror(errno);
    return false;
}

}  // namespace drivemap
