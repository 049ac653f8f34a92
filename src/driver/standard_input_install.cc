// "installer -": installs the package or bundle streamed on standard input and keeps
// the received file as the package's image when the package is stored whole.

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iostream>
#include <string>

#include "changes/apply.h"
#include "changes/change_set.h"
#include "driver/change_marker.h"
#include "driver/command_line.h"
#include "driver/postlog.h"
#include "driver/run_modes.h"
#include "engine/installation.h"
#include "engine/schedule.h"
#include "pdb/repository.h"
#include "pkgfile/package_reader.h"

namespace {

// Written straight to the flash while it is read, so that a large package never has
// to fit in memory; "/flash/var/pdb//image" names the same file.
constexpr char kReceivedImage[] = "/flash/var/pdb//image";
constexpr char kReceivedImagePath[] = "/flash/var/pdb/image";

// The installed package whose database directory dbPath is.
InstalledPackage* packageOfDirectory(Repository& repository, const std::string& dbPath) {
  const std::string prefix = "/flash/var/pdb/";
  if (dbPath.size() <= prefix.size() + 1) return nullptr;
  return repository.findPackageRecord(
      dbPath.substr(prefix.size(), dbPath.size() - prefix.size() - 1));
}

}  // namespace

int runStandardInputInstall(Repository& repository, const Settings& settings) {
  ChangeSet changes;
  applySchedule(repository, changes, true);

  std::filebuf image;
  if (image.open(kReceivedImage, std::ios::out | std::ios::trunc | std::ios::binary) == nullptr) {
    std::cout << "ERROR: could not open image" << std::endl;
    return -1;
  }
  std::string dbPath;
  bool boot = false;
  int result = installStream(repository, changes, std::cin, settings.installFlags, {}, &image,
                             &dbPath, &boot);
  const bool copied = image.close() != nullptr;
  const int copyError = errno;

  // A kept image must be the whole stream: a copy the flash could not take would
  // turn into a broken image of an installed package.
  if (result == 0 && !dbPath.empty() && !copied) {
    errno = copyError;
    if (const InstalledPackage* package = packageOfDirectory(repository, dbPath))
      repository.reportCreateFailure(*package, "image");
    result = 1;
  }

  if (result == 0) {
    if (dbPath.empty()) {
      // Nothing keeps the received file: the package was stored unpacked, or was
      // already installed and this copy was neither read whole nor verified.
      changes.remove(kReceivedImagePath);
    } else if (boot) {
      changes.putMove("/flash/bootimage", kReceivedImage);
      changes.putSymlink(dbPath + "image", "/flash/bootimage");
    } else {
      changes.putMove(dbPath + "image", kReceivedImage);
    }
    recordChangeMarker(changes);
    apply(changes, false);
  } else {
    // Nothing of a failed install reaches the flash, and no stray image is left
    // for the next run to take for a package named "image".
    changes.discard();
    unlink(kReceivedImagePath);
  }
  writePostlog(repository);
  return result;
}
