// The upgrade run: installs the package files waiting in the download directories
// as one whole, then applies the changes at once and hands over to the boot stage,
// or, with "--safe", leaves them in the manifest for a later "--commit".

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "changes/apply.h"
#include "changes/change_set.h"
#include "changes/manifest.h"
#include "driver/boot_stage.h"
#include "driver/change_marker.h"
#include "driver/command_line.h"
#include "driver/disk_space.h"
#include "driver/postlog.h"
#include "driver/run_modes.h"
#include "engine/schedule.h"
#include "engine/upgrade_planning.h"
#include "pdb/repository.h"

namespace {

constexpr char kManifest[] = "/ram/MANIFEST";

}  // namespace

int runUpgrade(Repository& repository, const Settings& settings) {
  int status = 0;
  ChangeSet changes;
  applySchedule(repository, changes, true);
  std::vector<Package> installed = planUpgrade(repository, changes, settings.installFlags);

  if ((settings.installFlags & AllowReinstall) == 0 && !fitsOnFlash(repository, changes)) {
    changes.discard();
    installed.clear();
    status = kNoRoomStatus;
  }

  for (const Package& package : installed) repository.info("installed %s", displayName(package).c_str());

  if (!changes.isEmpty()) {
    recordChangeMarker(changes);
    if (settings.applyNow) {
      apply(changes, false);
      // What the apply leaves of the set's temporary files (the sources of copies
      // from the router's small RAM disk, a file whose move failed) nothing else
      // would ever remove.
      changes.discard();
      runBootStage();
    } else if (!writeManifest(changes, kManifest)) {
      // A manifest that could not be written whole must not stay for the boot stage
      // or a later "--commit" to apply.
      const int code = errno;
      repository.error("could not write %s: %s", kManifest, strerror(code));
      changes.discard();
      unlink(kManifest);
      status = code == ENOSPC ? kNoRoomStatus : 1;
    }
  }
  writePostlog(repository);
  return status;
}
