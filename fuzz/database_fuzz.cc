// Feeds one database directory to the loader: the input becomes the files of
// "/flash/var/pdb/NAME/" and the schedule word under "/ram/pdb/", and a fresh
// repository is opened on the scratch root.
//
// Input: two control bytes (little-endian), then the file contents separated by
// 0x1E bytes, in the order of kFiles. Bit i of the control word says whether file i
// exists (its content is empty when the input runs out first); bits 10 and 11 pick
// the package name.
// Every record loaded must have a safe name and an action the rest of the system
// knows.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "changes/change_set.h"
#include "model/package.h"
#include "model/safe_names.h"
#include "pdb/database_loader.h"
#include "pdb/repository.h"
#include "scratch_root.h"

namespace {

constexpr const char* kFiles[] = {"version", "deps",    "provides", "conflicts", "bundle",
                                  "files",   "disabled", "enabled", "schedule",  "image"};
constexpr size_t kFileCount = sizeof kFiles / sizeof kFiles[0];
// A plain name, one with a dash, one whose schedule directory drops characters, and
// one that has an image of its own in most seeds.
constexpr const char* kNames[] = {"system", "wifi-pack", "x_y.z", "dude"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enterScratchRoot();
  if (size < 2) return 0;
  const unsigned control = data[0] | (data[1] << 8);
  const std::string name = kNames[(control >> 10) & 3];
  const std::string directory = "/flash/var/pdb/" + name + "/";
  const std::string scheduleDirectory = "/ram/pdb/" + scheduleFileName(name) + "/";
  removeScratchTree("/flash/var");
  removeScratchTree("/ram/pdb");
  makeDirectories(directory);
  makeDirectories(scheduleDirectory);

  const char* next = reinterpret_cast<const char*>(data) + 2;
  const char* end = reinterpret_cast<const char*>(data) + size;
  for (size_t i = 0; i < kFileCount; ++i) {
    const char* stop = next;
    while (stop != end && *stop != '\x1e') ++stop;
    if ((control >> i) & 1) {
      const std::string path =
          (i == 8 ? scheduleDirectory : directory) + kFiles[i];
      if (!writeScratchFile(path, next, static_cast<size_t>(stop - next))) abort();
    }
    next = stop == end ? end : stop + 1;
  }

  Repository repository;
  repository.open("i386", true);
  for (const auto& package : repository.packages) {
    if (!isSafePackageName(package->name)) abort();
    if (static_cast<uint32_t>(package->scheduledAction) > 3) abort();
    for (const std::string& file : package->files)
      if (file.empty() || file[0] != '/') abort();
  }
  return 0;
}
