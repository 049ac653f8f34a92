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
#include "driver/disk_space.h"
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

// The received file on its way to the flash. A write that fails would leave a gap
// with the rest of the stream after it, a kept image that looks whole: after the
// first failure nothing more is written, and the copy counts as failed.
class ImageCopy : public std::streambuf {
 public:
  bool open(const char* path) {
    return file_.open(path, std::ios::out | std::ios::trunc | std::ios::binary) != nullptr;
  }

  // False, with errno set, when a write or the close failed.
  bool close() {
    const bool closed = file_.close() != nullptr;
    if (failed_) {
      errno = error_;
      return false;
    }
    return closed;
  }

 protected:
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    if (failed_) return 0;
    const std::streamsize written = file_.sputn(data, count);
    if (written != count) {
      failed_ = true;
      error_ = errno;
    }
    return written;
  }

  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }

 private:
  std::filebuf file_;
  bool failed_ = false;
  int error_ = 0;
};

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

  ImageCopy image;
  if (!image.open(kReceivedImage)) {
    std::cout << "ERROR: could not open image" << std::endl;
    return -1;
  }
  std::string dbPath;
  bool boot = false;
  int result = installStream(repository, changes, std::cin, settings.installFlags, {}, &image,
                             &dbPath, &boot);
  const bool copied = image.close();
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
    // Files prepared under "/ram" are copied onto the flash by the apply; one that
    // finds no room there would leave the install half done.
    if ((settings.installFlags & AllowReinstall) == 0 && !fitsOnFlash(repository, changes))
      result = kNoRoomStatus;
  }
  if (result == 0) {
    apply(changes, false);
    // What the apply leaves of the set's temporary files (the sources of copies from
    // the router's small RAM disk, a file whose move failed) nothing else would ever
    // remove.
    changes.discard();
  } else {
    // Nothing of a failed install reaches the flash, and no stray image is left
    // for the next run to take for a package named "image".
    changes.discard();
    unlink(kReceivedImagePath);
  }
  writePostlog(repository);
  return result;
}
