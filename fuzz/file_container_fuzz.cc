// Feeds a file container to extraction as an install meets it: a package file of one
// file container part, read by a digesting reader, unpacked by extractFiles into a
// change set inside the scratch root, and the set discarded again.
//
// Input: one control byte, then the container.
//   bit 0  the rest is the inflated container, deflated here (most inputs reach the
//          entries); clear, the rest is the part's payload as it stands
//   bit 1  the package is disabled (its files go under "/flash/x/<name>/")
//   bit 2  the part header claims 64 bytes more than the input holds
// Every temporary file of the set must lie inside "/flash" or "/ram", and none may be
// left behind once the set is discarded.

#include <dirent.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "changes/change_set.h"
#include "model/package.h"
#include "pdb/repository.h"
#include "pkgfile/file_container.h"
#include "pkgfile/package_format.h"
#include "pkgfile/package_reader.h"
#include "scratch_root.h"

namespace {

std::string deflated(const uint8_t* data, size_t size) {
  uLongf length = compressBound(size);
  std::string out(length, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &length, data, size, 1) != Z_OK) return {};
  out.resize(length);
  return out;
}

// Entries of a directory other than "." and "..".
size_t entryCount(const char* path) {
  DIR* directory = opendir(path);
  if (directory == nullptr) return 0;
  size_t count = 0;
  while (const dirent* entry = readdir(directory))
    if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") ++count;
  closedir(directory);
  return count;
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::string(prefix).size(), prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enterScratchRoot();
  if (size == 0) return 0;
  const uint8_t control = data[0];
  const std::string payload = (control & 1) != 0
                                  ? deflated(data + 1, size - 1)
                                  : std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  const uint32_t claimed = static_cast<uint32_t>(payload.size()) + ((control & 4) != 0 ? 64 : 0);

  uint8_t head[kFileHeaderSize + kPartHeaderSize];
  writeLe32(head, kPackageMagic);
  writeLe32(head + 4, static_cast<uint32_t>(kPartHeaderSize) + claimed);
  writeLe16(head + 8, FileContainerPart);
  writeLe32(head + 10, claimed);
  std::istringstream source(std::string(reinterpret_cast<const char*>(head), sizeof head) +
                            payload);

  Repository& repository = Repository::instance();
  repository.quiet = true;
  InstalledPackage package("fuzzed");
  package.version = 0x062A0300;
  package.disabled = (control & 2) != 0;
  ChangeSet changes;
  {
    PackageReader reader(source, true);
    reader.wantPart(FileContainerPart);
    if (reader.nextPart() == FileContainerPart) extractFiles(package, changes, reader);
  }
  for (const auto& [target, change] : changes.entries()) {
    if (!startsWith(target, "/flash/")) abort();
    if (change.op == ChangeOp::MoveTemp && !startsWith(change.argument, "/flash/") &&
        !startsWith(change.argument, "/ram/"))
      abort();
  }
  changes.discard();
  if (entryCount("/flash") != 0 || entryCount("/ram") != 0) abort();
  return 0;
}
