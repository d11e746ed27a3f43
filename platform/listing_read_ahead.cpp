#include "listing_read_ahead.h"

#include "host_machine.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace host {
namespace {

constexpr size_t kListingsAhead = 256;  // listings read but not yet asked for, at the most

// Descriptors of directories read ahead, kept for the walk to take: at most a quarter of the
// process's descriptor limit, so that they never starve the caller's own opens.
std::atomic<size_t> g_keptDescriptors{0};

size_t KeptDescriptorLimit() {
    static const size_t limit = [] {
        struct rlimit nofile;
        if (getrlimit(RLIMIT_NOFILE, &nofile) != 0) return size_t{0};
        if (nofile.rlim_cur == RLIM_INFINITY) return kListingsAhead;
        return std::min(kListingsAhead, static_cast<size_t>(nofile.rlim_cur / 4));
    }();
    return limit;
}

struct Job {
    enum State { kQueued, kReading, kRead, kFailed };
    std::string hostPath;
    std::shared_ptr<const UniqueFd> parent;  // the parent directory, a descriptor of its own
    std::string name;                        // in the parent
    dev_t driveDev = 0;
    State state = kQueued;
    bool bTaken = false;  // a request is waiting for it (it has left the order)
    struct stat st {};    // the directory's fstat, as the worker opened it
    DirectoryListing listing;
    std::shared_ptr<const UniqueFd> fd;  // the directory, when kept for the walk

    ~Job() {
        if (fd) --g_keptDescriptors;
    }
    // Keeps `dir` for the walk, while fewer than the limit are kept.
    void Keep(const std::shared_ptr<const UniqueFd> &dir) {
        if (g_keptDescriptors.fetch_add(1) < KeptDescriptorLimit())
            fd = dir;
        else
            --g_keptDescriptors;
    }
    std::shared_ptr<const UniqueFd> TakeFd() {
        if (fd) --g_keptDescriptors;
        return std::move(fd);
    }
};

// The walk's next requests in the order it will make them. Made once and never destroyed, so the
// worker can outlive the statics at exit.
struct ReadAhead {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Job>> order;
    std::vector<std::shared_ptr<const UniqueFd>> toClose;
    bool bWorkerStarted = false;
};

ReadAhead &State() {
    static ReadAhead *state = new ReadAhead;
    return *state;
}

std::atomic<int> g_mode{HOST_READ_AHEAD_OFF};

bool Enabled() {
    static const bool allowed = [] {
        const char *value = getenv("PWDVMP32_READ_AHEAD");
        return value == nullptr || strcmp(value, "0") != 0;
    }();
    return allowed && g_mode.load(std::memory_order_relaxed) != HOST_READ_AHEAD_OFF;
}

// The first job still to read among the first kListingsAhead, or none.
std::shared_ptr<Job> NextToRead(const ReadAhead &state) {
    const size_t end = state.order.size() < kListingsAhead ? state.order.size() : kListingsAhead;
    for (size_t i = 0; i < end; ++i)
        if (state.order[i]->state == Job::kQueued) return state.order[i];
    return nullptr;
}

// Whether a walk is expected to enter the subdirectory `entry` (a case twin is never listed).
bool WalkEnters(const ListedEntry &entry) {
    if (!S_ISDIR(entry.st.st_mode) || entry.bCaseTwin) return false;
    return g_mode.load(std::memory_order_relaxed) != HOST_READ_AHEAD_NOT_DOT_DIRECTORIES || entry.ShownName()[0] != '.';
}

// The jobs of the subdirectories among `entries`, in the order a walk enters them.
std::vector<std::shared_ptr<Job>> JobsBelow(const std::shared_ptr<const UniqueFd> &parent, const std::string &hostPath,
                                            dev_t driveDev, const std::vector<ListedEntry> &entries) {
    std::vector<std::shared_ptr<Job>> below;
    for (const ListedEntry &entry : entries) {
        if (!WalkEnters(entry)) continue;
        auto job = std::make_shared<Job>();
        job->hostPath = JoinHostPath(hostPath, entry.name);
        job->parent = parent;
        job->name = entry.name;
        job->driveDev = driveDev;
        below.push_back(std::move(job));
    }
    return below;
}

// Reads `job`, which is queued, with the state's lock held on entry and on return (released while
// reading), and puts the subdirectories of the directory it read right after it: where the walk
// will ask for them.
void ReadJob(ReadAhead &state, std::unique_lock<std::mutex> &lock, const std::shared_ptr<Job> &job) {
    job->state = Job::kReading;
    lock.unlock();
    struct stat st;
    DirectoryListing listing;
    UniqueFd dir = OpenSubdirectory(job->parent->Get(), job->name, job->driveDev, &st);
    if (dir.Valid())
        listing.bReadable = ListDirectory(dir.Get(), job->driveDev, st.st_size, &listing.entries, &listing.leftOut,
                                          /*freshDescriptor=*/true);
    std::vector<std::shared_ptr<Job>> below;
    std::shared_ptr<const UniqueFd> own;
    if (listing.bReadable) {
        own = std::make_shared<const UniqueFd>(std::move(dir));
        below = JobsBelow(own, job->hostPath, job->driveDev, listing.entries);
    }
    lock.lock();
    if (own) job->Keep(own);
    job->state = listing.bReadable ? Job::kRead : Job::kFailed;
    job->st = st;
    job->listing = std::move(listing);
    job->parent.reset();
    auto at = std::find(state.order.begin(), state.order.end(), job);
    if (at != state.order.end())
        state.order.insert(at + 1, below.begin(), below.end());
    else if (job->bTaken)
        state.order.insert(state.order.begin(), below.begin(), below.end());
    state.changed.notify_all();
}

// Lists the jobs in order, keeping ahead of the walk.
void Work() {
    pthread_setname_np(pthread_self(), "read-ahead");
    ReadAhead &state = State();
    std::unique_lock<std::mutex> lock(state.mutex);
    for (;;) {
        std::shared_ptr<Job> job;
        state.changed.wait(lock, [&] { return !state.toClose.empty() || (job = NextToRead(state)) != nullptr; });
        if (!state.toClose.empty()) {
            std::vector<std::shared_ptr<const UniqueFd>> closing;
            closing.swap(state.toClose);
            lock.unlock();
            closing.clear();
            lock.lock();
            continue;
        }
        ReadJob(state, lock, job);
    }
}

// Until `job`, which the worker is reading, is read. The caller meanwhile reads the next listing
// still queued rather than wait: the two threads share the reading when the walk is faster than
// one of them.
void AwaitJob(ReadAhead &state, std::unique_lock<std::mutex> &lock, const Job &job) {
    while (job.state == Job::kReading) {
        if (std::shared_ptr<Job> next = NextToRead(state))
            ReadJob(state, lock, next);
        else
            state.changed.wait(lock);
    }
}

bool SameDirectoryState(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mode == b.st_mode && a.st_nlink == b.st_nlink &&
           a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace

bool TakeListingReadAhead(const std::string &hostPath, const struct stat &st, DirectoryListing *out) {
    if (!Enabled()) return false;
    ReadAhead &state = State();
    std::unique_lock<std::mutex> lock(state.mutex);
    size_t at = 0;
    while (at < state.order.size() && at < kListingsAhead && state.order[at]->hostPath != hostPath) ++at;
    if (at == state.order.size() || at == kListingsAhead) {
        state.order.clear();
        return false;
    }
    // What comes before it the walk passed over.
    state.order.erase(state.order.begin(), state.order.begin() + static_cast<std::ptrdiff_t>(at));
    std::shared_ptr<Job> job = state.order.front();
    state.order.pop_front();
    state.changed.notify_all();
    if (job->state == Job::kQueued) return false;
    job->bTaken = true;
    AwaitJob(state, lock, *job);
    if (job->state != Job::kRead || !SameDirectoryState(job->st, st)) {
        // The caller lists it and says what lies below: what the worker put there goes.
        state.order.clear();
        return false;
    }
    *out = std::move(job->listing);
    return true;
}

std::shared_ptr<const UniqueFd> TakeDescriptorReadAhead(const std::string &hostPath, int parentFd,
                                                        const std::string &name, dev_t driveDev, struct stat *st) {
    if (!Enabled()) return nullptr;
    std::shared_ptr<const UniqueFd> fd;
    struct stat opened;
    {
        ReadAhead &state = State();
        std::unique_lock<std::mutex> lock(state.mutex);
        const size_t end = std::min(state.order.size(), kListingsAhead);
        size_t at = 0;
        while (at < end && state.order[at]->hostPath != hostPath) ++at;
        if (at < end) {
            // A directory the walk is about to list is opened once, with its listing: read here
            // when nobody has begun to, else taken from the worker once it has read it.
            const std::shared_ptr<Job> job = state.order[at];
            if (job->state == Job::kQueued)
                ReadJob(state, lock, job);
            else
                AwaitJob(state, lock, *job);
            if (job->state == Job::kRead) {
                fd = job->TakeFd();
                opened = job->st;
            }
        }
    }
    if (!fd || fstatat(parentFd, name.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st->st_mode) ||
        st->st_dev != driveDev || st->st_dev != opened.st_dev || st->st_ino != opened.st_ino)
        return nullptr;
    return fd;
}

void ReadAheadBelow(int dirFd, const std::string &hostPath, dev_t driveDev, const std::vector<ListedEntry> &entries) {
    if (!Enabled()) return;
    if (std::none_of(entries.begin(), entries.end(), WalkEnters)) return;
    UniqueFd own(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (!own.Valid()) return;
    std::vector<std::shared_ptr<Job>> below =
        JobsBelow(std::make_shared<const UniqueFd>(std::move(own)), hostPath, driveDev, entries);
    ReadAhead &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.order.insert(state.order.begin(), below.begin(), below.end());
    if (!state.bWorkerStarted) {
        try {
            std::thread(Work).detach();
            state.bWorkerStarted = true;
        } catch (...) {
            state.order.clear();  // no second thread: every listing on the caller's
            return;
        }
    }
    state.changed.notify_all();
}

void CloseOnReadAheadThread(std::vector<std::shared_ptr<const UniqueFd>> &fds) {
    if (!Enabled()) return;
    ReadAhead &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.bWorkerStarted) return;
    state.toClose.insert(state.toClose.end(), std::make_move_iterator(fds.begin()), std::make_move_iterator(fds.end()));
    fds.clear();
    state.changed.notify_all();
}

void ForgetListingsReadAhead() {
    ReadAhead &state = State();
    std::vector<std::shared_ptr<const UniqueFd>> closing;
    std::lock_guard<std::mutex> lock(state.mutex);
    state.order.clear();
    closing.swap(state.toClose);
}

void ReadAheadListings(int mode) {
    g_mode = mode;
    ForgetListingsReadAhead();
}

}  // namespace host
