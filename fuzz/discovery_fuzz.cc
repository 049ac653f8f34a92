// Feeds one package file to discovery: the input is written as the only ".zpk" file
// of a download directory inside the scratch root and scanPackageFiles reads it.
//
// Input: one control byte, then the file. With bit 0 set the file header's length
// word is first made to match the file's size, as discovery requires of a whole
// file, so that mutations past the header still reach the parts.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "changes/change_set.h"
#include "model/package.h"
#include "pdb/repository.h"
#include "pkgfile/discovery.h"
#include "pkgfile/package_format.h"
#include "scratch_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enterScratchRoot();
  if (size == 0) return 0;
  std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 1) != 0 && file.size() >= kFileHeaderSize)
    writeLe32(reinterpret_cast<uint8_t*>(file.data()) + 4,
              static_cast<uint32_t>(file.size() - kFileHeaderSize));

  static const std::string directory = "/flash/var/pckg/";
  static const bool made = [] {
    makeDirectories(directory);
    return true;
  }();
  (void)made;
  if (!writeScratchFile(directory + "fuzzed.zpk", file.data(), file.size())) abort();

  Repository& repository = Repository::instance();
  repository.quiet = true;
  std::vector<std::unique_ptr<PackageFile>> found;
  scanPackageFiles(directory, found);
  if (found.size() > 1) abort();
  for (const auto& record : found) {
    if (record->isBundle && record->members.empty()) abort();
    // Only a file as long as its header says is whole.
    if (record->declaredSize != file.size()) abort();
  }
  return 0;
}
