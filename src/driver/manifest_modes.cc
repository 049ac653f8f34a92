#include "driver/manifest_modes.h"

#include <unistd.h>

#include <iostream>

#include "changes/apply.h"
#include "changes/change_set.h"
#include "changes/manifest.h"

namespace {

constexpr char kManifest[] = "/ram/MANIFEST";

}  // namespace

void runCommit() {
  ChangeSet changes;
  readManifest(changes, kManifest);
  std::cout << "finishing install... " << std::flush;
  apply(changes, true);
  // Erase the last spinner character.
  std::cout << "\b " << std::endl;
}

void runCancel() {
  ChangeSet changes;
  readManifest(changes, kManifest);
  // Entries read back from a manifest are plain moves, so this removes no file.
  changes.discard();
  unlink(kManifest);
}
