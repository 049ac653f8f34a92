#include "engine/upgrade_planning.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "changes/change_set.h"
#include "driver/postlog.h"
#include "engine/candidate_selection.h"
#include "engine/installation.h"
#include "engine/providers.h"
#include "engine/relations.h"
#include "engine/schedule.h"
#include "pdb/repository.h"
#include "pkgfile/discovery.h"
#include "platform/file_handles.h"

namespace {

using Candidates = std::vector<std::unique_ptr<PackageFile>>;

bool exists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

// The package files of the first download directory that has any. True when they
// come from the download directory proper.
bool findCandidates(Candidates& candidates) {
  if (!exists("/rw/pckg/.download/IGNORE")) {
    scanPackageFiles("/rw/pckg/.download/", candidates);
    if (!candidates.empty()) return true;
  }
  scanPackageFiles("/flash/rw/pckg/", candidates);
  if (candidates.empty()) scanPackageFiles("/flash/var/pckg/", candidates);
  return false;
}

// The installed package that now answers to name: the first enabled one that has
// the name or provides it, else the last that does; null when none does.
InstalledPackage* answering(const Repository& repository, const std::string& name) {
  const DependencyEntry wanted{name, 0, 0, 0};
  InstalledPackage* found = nullptr;
  for (const auto& package : repository.packages) {
    if (package->name != name && !providesMatch(*package, wanted)) continue;
    found = package.get();
    if (!found->disabled) break;
  }
  return found;
}

}  // namespace

std::vector<Package> planUpgrade(Repository& repository, ChangeSet& changes, InstallFlags flags) {
  Version floor = kNoFloor;
  if (std::ifstream downgrade("/ram/DOWNGRADE"); downgrade.is_open()) {
    floor = 0;
    if (!(downgrade >> floor)) floor = 0;
    flags |= AllowDowngrade;
  }

  Candidates candidates;
  const bool fromDownload = findCandidates(candidates);
  std::vector<PackageFile*> selected;
  for (const auto& candidate : candidates) selected.push_back(candidate.get());
  selectCandidates(repository, selected, floor, true);

  UserChoices userChoices;
  std::set<std::string> activeNames;
  for (const auto& package : repository.packages) {
    if (package->userChosen) userChoices[package->name] = package->disabled;
    if (package->disabled) continue;
    activeNames.insert(package->name);
    for (const DependencyEntry& provided : package->provides) activeNames.insert(provided.name);
  }

  if (!selected.empty()) takeOverPostlog(repository);

  std::vector<Package> installed;
  for (const PackageFile* candidate : selected) {
    std::ifstream file;
    if (!openRegularFile(file, candidate->path)) continue;
    std::string dbPath;
    bool boot = false;
    const int result = installStream(repository, changes, file, flags, userChoices, nullptr,
                                     &dbPath, &boot);
    file.close();
    if (result != 0) {
      changes.discard();
      return {};
    }
    // Only a package this run installed and verified has its file kept; one taken
    // as already installed was not read whole.
    if (candidate->hasOpaquePayload && !dbPath.empty()) {
      const std::string image = "/flash/var/pdb/" + candidate->name + "/image";
      if (boot) {
        changes.putMove("/flash/bootimage", candidate->path);
        changes.putSymlink(image, "/flash/bootimage");
      } else {
        changes.putMove(image, candidate->path);
      }
    }
    installed.push_back(*candidate);
  }

  std::vector<InstalledPackage*> enables;
  for (const std::string& name : activeNames) {
    InstalledPackage* package = answering(repository, name);
    if (package == nullptr) {
      if (fromDownload) continue;
      repository.error("missing package %s", name.c_str());
      changes.discard();
      return {};
    }
    if (!package->disabled || findBlocker(repository, *package) != nullptr) continue;
    // A package that answers several names is enabled once.
    if (std::find(enables.begin(), enables.end(), package) == enables.end())
      enables.push_back(package);
  }
  enablePackages(repository, changes, enables, true);

  if (repository.packages.empty()) {
    repository.error("router installation failed!!!");
    changes.discard();
    return {};
  }
  return installed;
}
