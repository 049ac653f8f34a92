// Installing one package stream: a single package, or a bundle header followed by
// its member packages. Every file-system effect goes through the change set but
// "/rw/CONVERT"; nothing in the live tree moves before the caller applies the set.

#include "engine/installation.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <vector>

#include "changes/change_set.h"
#include "changes/package_removal.h"
#include "engine/decision_rules.h"
#include "engine/providers.h"
#include "engine/schedule.h"
#include "engine/signature_level.h"
#include "model/package.h"
#include "model/safe_names.h"
#include "pdb/database_writer.h"
#include "pdb/repository.h"
#include "pkgfile/file_container.h"
#include "pkgfile/package_reader.h"
#include "verify/signature.h"

namespace {

constexpr InstallFlags kMemberMask = 0xFFFFFFFF;  // members: no message but flagged state
constexpr uint32_t kPayloadStep = 4096;

enum StreamResult {
  Installed = 0,
  Failed = 1,
  BundleFailed = 2,
  NoMemberInstalled = 3,
};

// The database separates fields by white space and keeps one entry a directory:
// a name that does not survive that would be read back as broken metadata on the
// next run, and the package uninstalled.
bool hasStorableNames(const Package& package) {
  if (!isSafePackageName(package.name)) return false;
  for (const auto* list : {&package.dependencies, &package.provides, &package.conflicts})
    for (const DependencyEntry& entry : *list)
      if (!isSafeListName(entry.name)) return false;
  return true;
}

// "installation of %s failed: broken package" for a package whose name itself is
// unusable: its control characters are shown escaped, so that the name cannot
// forge a line of the console or of the post-install log.
void reportUnstorableNames(Repository& repository, const InstalledPackage& package) {
  std::string shown;
  for (const char c : progressName(package)) {
    if (!isControlCharacter(c)) {
      shown += c;
      continue;
    }
    char escaped[8];
    snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
    shown += escaped;
  }
  repository.error("installation of %s failed: broken package", shown.c_str());
}

bool isHeld(const Repository& repository, const InstalledPackage* record) {
  for (const auto& held : repository.packages)
    if (held.get() == record) return true;
  return false;
}

void createMarker(ChangeSet& changes, const std::string& path) {
  std::ofstream out;
  changes.createFile(out, path, 1, 0);
}

// Passes over the rest of a member that is not installed, up to the next member's
// header or the end of the data.
void skipMember(PackageReader& reader) {
  while (reader.currentPart != -1 && reader.currentPart != PackageHeaderPart) reader.nextPart();
}

// An opaque payload is never interpreted; it is read through (for the digest and
// the tee) in steps that keep the progress line moving.
void passOverPayload(InstalledPackage& package, PackageReader& reader) {
  for (uint32_t left = reader.partRemaining(); left != 0;) {
    progressBar(package, reader);
    const uint32_t step = std::min(left, kPayloadStep);
    if (reader.parts().pubseekoff(step, std::ios_base::cur, std::ios_base::in) ==
        std::streampos(std::streamoff(-1)))
      break;  // cut short: the signature check that follows fails
    left -= step;
  }
  reader.nextPart();
}

// After its signature a stand-alone package may carry only an architecture part
// and an empty dependency part.
bool endsCleanly(PackageReader& reader) {
  if (reader.currentPart == ArchitecturePart) reader.nextPart();
  if (reader.currentPart == DependenciesPart) {
    if (reader.partRemaining() != 0) return false;
    reader.nextPart();
  }
  return reader.currentPart == -1;
}

// The first requirement of the package that nothing installed answers any more.
const DependencyEntry* vanishedRequirement(const Repository& repository,
                                           const std::vector<DependencyEntry>& dependencies) {
  for (const DependencyEntry& entry : dependencies)
    if (collectProviders(repository, entry).empty()) return &entry;
  return nullptr;
}

}  // namespace

bool databaseDirAvailable(const InstalledPackage& package, ChangeSet& changes) {
  const std::string directory = databaseDir(package);
  if (const Change* pending = changes.find(directory)) {
    if (pending->op != ChangeOp::Delete) return false;
    changes.erase(directory);  // the replaced package's directory is taken over
  }
  struct stat info;
  return stat(directory.c_str(), &info) != 0 || S_ISDIR(info.st_mode);
}

InstalledPackage* installPackage(Repository& repository, ChangeSet& changes,
                                 PackageReader& reader, InstallFlags flags,
                                 const UserChoices& userChoices, const DependencyEntry* bundleRef,
                                 std::string* dbPathOut, bool* bootOut) {
  auto package = std::make_unique<InstalledPackage>();
  InstalledPackage& n = *package;
  if (!readHeader(n, reader)) return nullptr;
  // A member shows in every message under its bundle's name.
  if (bundleRef != nullptr) n.bundle = *bundleRef;
  if (!hasStorableNames(n)) {
    reportUnstorableNames(repository, n);
    return nullptr;
  }
  if (bundleRef != nullptr && n.name == bundleRef->name) return nullptr;
  const bool alternative = reader.magic == kAltPackageMagic;

  if (n.name == "system" && (n.version >> 24) <= 6) std::ofstream("/rw/CONVERT");

  InstallOutcome outcome =
      evaluateInstall(repository, n, bundleRef != nullptr ? kMemberMask : flags | AllowConflict);
  const auto choice = userChoices.find(n.name);
  if (choice != userChoices.end()) {
    n.disabled = choice->second;
    n.userChosen = true;
  } else {
    n.disabled = false;
  }
  // A package that an active installed package blocks goes in disabled.
  if (outcome & Conflict) {
    n.disabled = true;
    outcome &= ~Conflict;
  }

  const InstallOutcome refused = outcome & (~flags | SameVersion);
  if (refused != 0) {
    InstalledPackage* installed = repository.findPackageRecord(n.name);
    if (bundleRef != nullptr) {
      skipMember(reader);
      return installed;
    }
    if (outcome & NotInstallable) return nullptr;
    if ((flags & AllowReinstall) && (outcome & SameVersion)) {
      repository.setStatus(std::string(78, ' '));
      repository.setStatus("");
      repository.info("installed %s%s", n.disabled ? "(disabled) " : "", displayName(n).c_str());
      if (bootOut != nullptr) *bootOut = installed != nullptr && (installed->flags & BOOT_PACKAGE);
      return installed;
    }
    if (outcome & SameVersion) return installed;
    return nullptr;
  }

  if (!alternative)
    if (InstalledPackage* replaced = repository.findPackageRecord(n.name)) {
      removePackageFiles(*replaced, changes);
      repository.removePackage(replaced);
    }
  progressBar(n, reader);
  if (!alternative && !databaseDirAvailable(n, changes)) return nullptr;

  if (reader.currentPart == OpaquePayloadPart) passOverPayload(n, reader);
  if (reader.currentPart == FileContainerPart) {
    // The boot package's files are taken as one whole boot image instead.
    if (getenv("bootimage") != nullptr && (n.flags & BOOT_PACKAGE)) {
      reader.nextPart();
    } else {
      if (!extractFiles(n, changes, reader)) return nullptr;
      reader.nextPart();
    }
  }

  const int level = requiredSignatureLevel(n);
  if (reader.currentPart != SignaturePart || !verifySignature(reader, level)) {
    repository.reportBrokenPackage(n);
    return nullptr;
  }
  reader.nextPart();
  if (n.bundle.name.empty() && !endsCleanly(reader)) {
    repository.reportBrokenPackage(n);
    return nullptr;
  }

  if (!alternative && !writeDatabaseEntry(n, changes)) return nullptr;
  if ((n.flags & BOOT_PACKAGE) || n.name == "branding") createMarker(changes, "/flash/UPGRADED");
  if (n.name == "branding") createMarker(changes, "/flash/BRANDING_INSTALLED");
  if (n.bundle.name.empty()) repository.setStatus("");

  InstalledPackage* installed = package.get();
  const std::vector<DependencyEntry> dependencies = n.dependencies;
  const std::string name = displayName(n);
  repository.addPackage(std::move(package));
  applySchedule(repository, changes, false);
  // The schedule may take the new package away at once, when what it needs went
  // with the package it replaced.
  if (!isHeld(repository, installed)) {
    if (const DependencyEntry* missing = vanishedRequirement(repository, dependencies))
      repository.error("can not install %s: %s is not installed, but is required", name.c_str(),
                       bundleRefName(*missing).c_str());
    return nullptr;
  }

  if (bootOut != nullptr)
    *bootOut = (installed->flags & BOOT_PACKAGE) && getenv("bootimage") != nullptr;
  // Only a package that was unpacked, verified and recorded here may have its
  // stream kept as its image.
  if (dbPathOut != nullptr && installed->hasOpaquePayload) *dbPathOut = databaseDir(*installed);
  return installed;
}

namespace {

int installBundle(Repository& repository, ChangeSet& changes, PackageReader& reader,
                  InstallFlags flags, const UserChoices& userChoices, std::string* dbPathOut,
                  bool* bootOut) {
  if (bootOut != nullptr) *bootOut = false;
  auto header = std::make_unique<InstalledPackage>();
  if (!readHeader(*header, reader) || !header->dependencies.empty() ||
      !header->provides.empty() || !header->conflicts.empty())
    return Failed;
  if (!hasStorableNames(*header)) {
    reportUnstorableNames(repository, *header);
    return Failed;
  }
  if (reader.currentPart == OpaquePayloadPart) reader.nextPart();

  const InstallOutcome outcome = evaluateInstall(repository, *header, flags);
  if (outcome & ~flags) return BundleFailed;
  if (InstalledPackage* replaced = repository.findPackageRecord(header->name)) {
    removePackageFiles(*replaced, changes);
    repository.removePackage(replaced);
  }
  if (!databaseDirAvailable(*header, changes) || !writeDatabaseEntry(*header, changes))
    return Failed;

  const DependencyEntry bundleRef{header->name, header->version, header->version, 0};
  while (InstalledPackage* stale = repository.findPackageRecord(header->name))
    repository.removePackage(stale);
  InstalledPackage* bundle = repository.addPackage(std::move(header));

  std::set<std::string> previousMembers;
  for (const auto& package : repository.packages)
    if (package->bundle.name == bundle->name) previousMembers.insert(package->name);

  // Names in the bundle's entry table that the user never chose install disabled:
  // an exclusion record blocks every package of the name for the rest of the run.
  if (reader.currentPart == BundleEntryTablePart) {
    std::vector<DependencyEntry> table;
    readEntryTable(reader, table);
    for (const DependencyEntry& entry : table) {
      if (userChoices.count(entry.name) != 0) continue;
      auto exclusion = std::make_unique<InstalledPackage>();
      exclusion->conflicts.push_back(DependencyEntry{entry.name, 0, 0, 0});
      repository.addPackage(std::move(exclusion));
    }
    reader.nextPart();
  }

  int members = 0;
  while (reader.currentPart == PackageHeaderPart) {
    bool memberBoot = false;
    const InstalledPackage* member = installPackage(repository, changes, reader, flags,
                                                    userChoices, &bundleRef, nullptr, &memberBoot);
    if (member == nullptr) return BundleFailed;
    previousMembers.erase(member->name);
    if (memberBoot && bootOut != nullptr) *bootOut = true;
    ++members;
  }
  if (reader.currentPart == ArchitecturePart) reader.nextPart();
  if (reader.currentPart != -1) return BundleFailed;
  // A stream cut right after a member reads like the end of the bundle; taking it
  // for one would uninstall every previous member that stood after the cut.
  const PartStreamBuffer& parts = reader.parts();
  if (uint64_t{parts.partStart()} + parts.partLength() < reader.declaredSize) {
    repository.reportBrokenPackage(*bundle);
    return BundleFailed;
  }
  if (members == 0) return NoMemberInstalled;

  // Members the new bundle no longer carries go.
  for (const std::string& name : previousMembers)
    if (InstalledPackage* previous = repository.findPackageRecord(name))
      previous->scheduledAction = ScheduledAction::Uninstall;
  applySchedule(repository, changes, false);
  repository.setStatus("");
  if (dbPathOut != nullptr && isHeld(repository, bundle) && bundle->hasOpaquePayload)
    *dbPathOut = databaseDir(*bundle);
  return Installed;
}

}  // namespace

int installStream(Repository& repository, ChangeSet& changes, std::istream& source,
                  InstallFlags flags, const UserChoices& userChoices, std::streambuf* tee,
                  std::string* dbPathOut, bool* bootOut) {
  PackageReader reader(source, true, tee);
  for (const uint32_t type : {PackageHeaderPart, BundleHeaderPart, BundleEntryTablePart,
                              ArchitecturePart, DependenciesPart, ProvidesPart, ConflictsPart,
                              OpaquePayloadPart, FileContainerPart, SignaturePart})
    reader.wantPart(type);
  reader.nextPart();
  if (reader.currentPart != BundleHeaderPart)
    return installPackage(repository, changes, reader, flags, userChoices, nullptr, dbPathOut,
                          bootOut) != nullptr
               ? Installed
               : Failed;
  return installBundle(repository, changes, reader, flags, userChoices, dbPathOut, bootOut);
}
