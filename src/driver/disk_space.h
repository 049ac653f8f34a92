#pragma once

#include <cstdint>

class ChangeSet;
class Repository;

// The exit status of a run whose changes do not fit on the flash.
constexpr int kNoRoomStatus = 28;

// Bytes that would remain on the kernel volume ("/flash/boot") and the system
// volume ("/flash") once the set is applied; negative is a shortfall. A volume the
// run takes space from keeps a reserve of 32768 bytes. Where the volume runs short
// part-way through the apply (a copy from another file system needs room for the
// whole new file while the file it replaces is still there) the room is the
// shortfall at that point, if the end result is not shorter still.
struct DiskRoom {
  int64_t kernel = 0;
  int64_t system = 0;
  bool fits() const { return kernel >= 0 && system >= 0; }
};

// Walks the set in the order the apply takes: deleted files give their blocks back,
// then files moved in from another file system take theirs and those they replace
// give theirs back. A path below "/flash/boot" counts on both volumes; a volume that
// cannot be examined has no room at all.
DiskRoom checkDiskSpace(const ChangeSet& changes);

// The check before an apply: true when the set fits; otherwise reports "upgrade
// failed, free %d kB disk space for a %supgrade" for each volume that falls short,
// the kernel volume first.
bool fitsOnFlash(Repository& repository, const ChangeSet& changes);
