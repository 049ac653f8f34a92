#pragma once

#include <cstdint>

class ChangeSet;

// Bytes that would remain on the kernel volume ("/flash/boot") and the system
// volume ("/flash") once the set is applied; negative is a shortfall. A volume the
// run takes space from keeps a reserve of 32768 bytes.
struct DiskRoom {
  int64_t kernel = 0;
  int64_t system = 0;
  bool fits() const { return kernel >= 0 && system >= 0; }
};

// Walks the set once: deleted and replaced files give their blocks back, files moved
// in from another file system take theirs. A path below "/flash/boot" counts on both
// volumes; a volume that cannot be examined has no room at all.
DiskRoom checkDiskSpace(const ChangeSet& changes);
