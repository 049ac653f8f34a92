#include "changes/package_removal.h"

#include <sys/stat.h>

#include "changes/change_set.h"
#include "model/package.h"
#include "model/safe_names.h"
#include "pdb/repository.h"

void removePackageFiles(InstalledPackage& package, ChangeSet& changes) {
  // Only paths a package can own are removed, so that a hand-edited "files" list can
  // never delete anything outside the package's own files.
  for (const std::string& path : package.files)
    if (isInstalledFilePath(path)) changes.remove(path);
  package.files.clear();

  // An unsafe name would make the database directory some other directory (the
  // database root itself, for an empty name).
  if (isSafePackageName(package.name)) {
    const std::string directory = databaseDir(package);
    changes.remove(directory);
    changes.remove(directory + "image");
  }

  // A boot image with a second hard link is still in use under another name.
  if (package.flags & BOOT_PACKAGE) {
    struct stat info;
    if (stat("/flash/bootimage", &info) == 0 && info.st_nlink == 1)
      changes.remove("/flash/bootimage");
  }
  package.scheduledAction = ScheduledAction::None;
}
