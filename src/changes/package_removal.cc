#include "changes/package_removal.h"

#include <sys/stat.h>

#include <string_view>

#include "changes/change_set.h"
#include "model/package.h"
#include "pdb/repository.h"

namespace {

// A package installs its files only below "/flash/", so only such a path, with no
// "." or ".." or empty component to lead elsewhere, is taken for one of its files.
// Anything else in the set (a hand-edited database file, say) is passed over, so
// that removing a package can never delete a path outside its own files.
bool isInstalledFilePath(const std::string& path) {
  constexpr std::string_view kPrefix = "/flash/";
  if (path.compare(0, kPrefix.size(), kPrefix) != 0) return false;
  if (path.find('\0') != std::string::npos) return false;
  std::string_view rest(path);
  rest.remove_prefix(kPrefix.size());
  for (;;) {
    const size_t slash = rest.find('/');
    const std::string_view component = rest.substr(0, slash);
    if (component.empty() || component == "." || component == "..") return false;
    if (slash == std::string_view::npos) return true;
    rest.remove_prefix(slash + 1);
  }
}

}  // namespace

void removePackageFiles(InstalledPackage& package, ChangeSet& changes) {
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
  package.scheduledAction = 0;
}
