#include "driver/disk_space.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <string>

#include "changes/apply.h"
#include "changes/change_set.h"
#include "pdb/repository.h"

namespace {

constexpr int64_t kReserve = 32768;

// The running count of one volume. Counts and products are 64-bit, so that a volume
// with more than 2^31 free blocks, or 4 GiB and more, is judged right.
struct Volume {
  explicit Volume(std::string path) : mountPath(std::move(path)) {
    struct statfs info;
    if (statfs(mountPath.c_str(), &info) != 0) return;
    blockSize = info.f_bsize > 0 ? static_cast<uint64_t>(info.f_bsize) : 1;
    freeBlocks = initialFreeBlocks = static_cast<int64_t>(info.f_bfree);
  }

  bool holds(const std::string& path) const {
    return path.size() > mountPath.size() && path.compare(0, mountPath.size(), mountPath) == 0 &&
           path[mountPath.size()] == '/';
  }

  int64_t blocksOf(int64_t size) const {
    const auto block = static_cast<int64_t>(blockSize);
    return (size + block - 1) / block;
  }

  // A file that will disappear gives its blocks back.
  void credit(const std::string& path) {
    struct stat info;
    if (holds(path) && stat(path.c_str(), &info) == 0) freeBlocks += blocksOf(info.st_size);
  }

  // A file moved from source to path takes its blocks, unless the move is a rename
  // within one file system; the file it replaces gives its blocks back.
  void debit(const std::string& source, const std::string& path) {
    if (!holds(path)) return;
    struct stat from;
    if (stat(source.c_str(), &from) == 0) {
      std::string directory = parentDirectory(path);
      struct stat into;
      bool found = true;
      while (stat(directory.c_str(), &into) != 0) {
        if (directory == "/" || directory == ".") {
          found = false;
          break;
        }
        directory = parentDirectory(directory);
      }
      if (found && into.st_dev == from.st_dev) return;
      // The copy is whole before the file it replaces goes.
      freeBlocks -= blocksOf(from.st_size);
      lowestBlocks = std::min(lowestBlocks, freeBlocks);
    }
    credit(path);
  }

  int64_t room() const {
    int64_t bytes = freeBlocks * static_cast<int64_t>(blockSize);
    if (freeBlocks < initialFreeBlocks) bytes -= kReserve;
    const int64_t lowest = lowestBlocks * static_cast<int64_t>(blockSize);
    return lowest < 0 ? std::min(bytes, lowest) : bytes;
  }

  std::string mountPath;
  uint64_t blockSize = 1;
  int64_t freeBlocks = 0;
  int64_t initialFreeBlocks = 0;
  int64_t lowestBlocks = 0;  // the fewest free blocks on the way, once the moves begin
};

// The shortfall in whole kilobytes, one more than the bytes divided by 1024.
long long shortfallKb(int64_t room) { return static_cast<long long>((-room >> 10) + 1); }

}  // namespace

DiskRoom checkDiskSpace(const ChangeSet& changes) {
  Volume kernel("/flash/boot");
  Volume system("/flash");
  // The apply makes every deletion before the first move.
  for (const auto& [path, change] : changes.entries()) {
    if (change.op != ChangeOp::Delete) continue;
    kernel.credit(path);
    system.credit(path);
  }
  kernel.lowestBlocks = kernel.freeBlocks;
  system.lowestBlocks = system.freeBlocks;
  for (const auto* move : movesInApplyOrder(changes)) {
    kernel.debit(move->second.argument, move->first);
    system.debit(move->second.argument, move->first);
  }
  return DiskRoom{kernel.room(), system.room()};
}

bool fitsOnFlash(Repository& repository, const ChangeSet& changes) {
  const DiskRoom room = checkDiskSpace(changes);
  if (room.kernel < 0)
    repository.error("upgrade failed, free %lld kB disk space for a %supgrade",
                     shortfallKb(room.kernel), "kernel ");
  if (room.system < 0)
    repository.error("upgrade failed, free %lld kB disk space for a %supgrade",
                     shortfallKb(room.system), "");
  return room.fits();
}
