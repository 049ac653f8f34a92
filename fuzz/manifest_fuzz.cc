// Feeds arbitrary bytes to the manifest reader as "/ram/MANIFEST" of the scratch
// root and writes the result back out: every line that reads must survive a write
// and a second read unchanged.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "changes/change_set.h"
#include "changes/manifest.h"
#include "scratch_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enterScratchRoot();
  const std::string path = "/ram/MANIFEST";
  if (!writeScratchFile(path, reinterpret_cast<const char*>(data), size)) abort();
  // Manifest entries are plain moves, links and deletions: reading them touches no file.
  ChangeSet first;
  readManifest(first, path);
  writeManifest(first, path);
  ChangeSet second;
  readManifest(second, path);
  if (first.entries().size() != second.entries().size()) abort();
  for (const auto& [target, change] : first.entries()) {
    const Change* again = second.find(target);
    if (again == nullptr || again->argument != change.argument ||
        (again->op != change.op && !(change.op == ChangeOp::MoveTemp && again->op == ChangeOp::Move)))
      abort();
  }
  unlink(path.c_str());
  return 0;
}
