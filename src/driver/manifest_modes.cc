#include "driver/manifest_modes.h"

#include <unistd.h>

#include <iostream>

#include "changes/apply.h"
#include "changes/change_set.h"
#include "changes/manifest.h"
#include "pdb/repository.h"

namespace {

constexpr char kManifest[] = "/ram/MANIFEST";

}  // namespace

int runCommit() {
  ChangeSet changes;
  // Part of an upgrade must never go in: a manifest that does not read whole is
  // left alone.
  if (readManifest(changes, kManifest) == ManifestRead::Damaged) {
    Repository::instance().error("could not read %s", kManifest);
    return 1;
  }
  std::cout << "finishing install... " << std::flush;
  apply(changes, true);
  // Erase the last spinner character.
  std::cout << "\b " << std::endl;
  return 0;
}

void runCancel() {
  ChangeSet changes;
  readManifest(changes, kManifest);
  // Entries read back from a manifest are plain moves, so this removes no file.
  changes.discard();
  unlink(kManifest);
}
