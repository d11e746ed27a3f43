// Directory listings read ahead on a second thread (listing_read_ahead.cpp).
//
// A walk lists a directory, then each of its subdirectories in listing order, a subdirectory's own
// subdirectories before its next sibling. Once a directory has been listed, a worker thread lists
// its subdirectories in that order, at most kListingsAhead of them ahead of the walk, while the
// caller works on what it already has; a caller that would wait for the listing the worker is
// reading reads the next queued one itself meanwhile. A listing read ahead is handed out only to
// the request that comes in that order, and only while the directory's stat (identity, times,
// size, links) is still the one the worker saw; a request out of order drops everything read
// ahead, so nothing read before one walk ended is ever handed to another. Every listing handed out
// is the one ListDirectory gives, taken a moment earlier, and the caller does everything else as
// without it. The worker keeps the descriptor it read a directory with, which the caller takes in
// place of opening the directory while the directory's name still leads to it.
//
// Off unless HostMachine_ReadAheadListings turned it on; PWDVMP32_READ_AHEAD=0 in the environment
// keeps it off.
#pragma once

#include "directory_listing.h"

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

namespace host {

struct DirectoryListing {
    bool bReadable = false;  // false: the directory could not be read, and the lists are empty
    std::vector<ListedEntry> entries;
    std::vector<LeftOutEntry> leftOut;
};

// The listing of the directory at hostPath, whose fstat the caller took as `st`, when it was read
// ahead: true with *out filled. False when the caller must list it itself.
bool TakeListingReadAhead(const std::string &hostPath, const struct stat &st, DirectoryListing *out);

// A descriptor of the directory at hostPath, which is `name` in the directory open at parentFd,
// when its listing was read ahead with a descriptor kept: taken when that name still leads to the
// same directory (one lstat, whose result is *st), instead of opening it again. A directory the
// walk asks for next is listed here when still queued, and waited for when the worker is listing
// it. Null when the caller must open it itself.
std::shared_ptr<const UniqueFd> TakeDescriptorReadAhead(const std::string &hostPath, int parentFd,
                                                        const std::string &name, dev_t driveDev, struct stat *st);

// Descriptors the caller no longer needs: closed on the worker thread, which has time to spare
// while the walk works through what it read, when the worker runs (else here, as they go).
void CloseOnReadAheadThread(std::vector<std::shared_ptr<const UniqueFd>> &fds);

// The directory at hostPath, open at dirFd, has just been listed with `entries`: its
// subdirectories are what a walk asks for next.
void ReadAheadBelow(int dirFd, const std::string &hostPath, dev_t driveDev, const std::vector<ListedEntry> &entries);

// Drops everything read ahead (a change of the current directory, a listing hook), and closes the
// descriptors given to the worker to close.
void ForgetListingsReadAhead();

// HostMachine_ReadAheadListings (a HOST_READ_AHEAD_* mode); HostMachine_Reset turns it off.
void ReadAheadListings(int mode);

}  // namespace host
