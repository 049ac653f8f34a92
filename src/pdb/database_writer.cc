#include "pdb/database_writer.h"

#include <cerrno>
#include <fstream>

#include "changes/change_set.h"
#include "model/safe_names.h"
#include "pdb/repository.h"

namespace {

// Size hints that let the change set place each temporary file.
constexpr uint32_t kVersionHint = 32;
constexpr uint32_t kListHint = 1024;
constexpr uint32_t kBundleHint = 16;
constexpr uint32_t kFilesHint = 4096;
constexpr uint32_t kStateHint = 8;

// Flushes and reports whether everything written reached the file. The stream is
// closed either way; errno survives the close so that a failure can be reported.
bool finish(std::ofstream& out) {
  out.flush();
  const bool written = !out.fail();
  const int code = errno;
  out.close();
  errno = code;
  return written;
}

bool isFullEntry(const InstalledPackage& package) {
  return !package.hasOpaquePayload && (package.flags & STATE_ONLY) == 0;
}

bool writeVersion(const InstalledPackage& package, ChangeSet& changes, const std::string& dir) {
  std::ofstream out;
  changes.createFile(out, dir + "version", kVersionHint, 0);
  out << package.version << ' ' << package.buildTime << '\n';
  return finish(out);
}

// An empty list is not written; a file left from an earlier version of the
// package would otherwise be read back as the current list.
bool writeOptionalList(ChangeSet& changes, const std::string& path,
                       const std::vector<DependencyEntry>& entries, bool withPriority) {
  if (entries.empty()) {
    changes.remove(path);
    return true;
  }
  return writeEntryList(changes, path, entries, withPriority);
}

bool writeBundle(const InstalledPackage& package, ChangeSet& changes, const std::string& dir) {
  if (package.bundle.name.empty()) {
    changes.remove(dir + "bundle");
    return true;
  }
  std::ofstream out;
  changes.createFile(out, dir + "bundle", kBundleHint, 0);
  out << package.bundle.name << '\n';
  return finish(out);
}

// A missing list marks a bundle, so one left by a package the bundle replaced
// must go.
bool writeFiles(const InstalledPackage& package, ChangeSet& changes, const std::string& dir) {
  if (package.isBundle) {
    changes.remove(dir + "files");
    return true;
  }
  std::ofstream out;
  changes.createFile(out, dir + "files", kFilesHint, 0);
  for (const std::string& path : package.files) {
    const size_t start = (!path.empty() && path[0] == '/') ? 1 : 0;
    if (start == path.size()) continue;
    out.write(path.data() + start, static_cast<std::streamsize>(path.size() - start));
    out.put('\n');
  }
  return finish(out);
}

bool writeStateFile(ChangeSet& changes, const std::string& path, const char* word) {
  std::ofstream out;
  changes.createFile(out, path, kStateHint, 0);
  out << word << '\n';
  return finish(out);
}

}  // namespace

bool writeEntryList(ChangeSet& changes, const std::string& path,
                    const std::vector<DependencyEntry>& entries, bool withPriority) {
  std::ofstream out;
  changes.createFile(out, path, kListHint, 0);
  for (const DependencyEntry& entry : entries) {
    out << entry.name << ' ' << entry.minVersion << ' ' << entry.maxVersion;
    if (withPriority) out << ' ' << entry.priority;
    out << '\n';
  }
  return finish(out);
}

bool writeDatabaseEntry(InstalledPackage& package, ChangeSet& changes) {
  Repository& repository = Repository::instance();
  const bool full = isFullEntry(package);

  // A name such as "" or ".." would turn the directory into the database root or
  // a place outside it. Refuse it as an invalid file name, under the first file
  // the entry would have written.
  if (!isSafePackageName(package.name)) {
    errno = EINVAL;
    const char* reported = full               ? "meta/version"
                           : package.disabled ? "meta/disabled"
                                              : "meta/enabled";
    repository.reportCreateFailure(package, reported);
    return false;
  }

  const std::string dir = databaseDir(package);
  if (full) {
    if (!writeVersion(package, changes, dir)) {
      repository.reportCreateFailure(package, "meta/version");
      return false;
    }
    if (!writeEntryList(changes, dir + "deps", package.dependencies, false)) {
      repository.reportCreateFailure(package, "meta/deps");
      return false;
    }
    if (!writeOptionalList(changes, dir + "provides", package.provides, true)) {
      repository.reportCreateFailure(package, "meta/provides");
      return false;
    }
    if (!writeOptionalList(changes, dir + "conflicts", package.conflicts, false)) {
      repository.reportCreateFailure(package, "meta/conflicts");
      return false;
    }
    if (!writeBundle(package, changes, dir)) {
      repository.reportCreateFailure(package, "meta/bundle");
      return false;
    }
    if (!writeFiles(package, changes, dir)) {
      repository.reportCreateFailure(package, "meta/files");
      return false;
    }
  }
  // The state files are rewritten on every entry. One that was not written whole
  // must not go in: an empty "disabled" would read back as the user's choice.
  if (package.disabled) {
    if (!writeStateFile(changes, dir + "disabled", package.userChosen ? "user" : "auto")) {
      repository.reportCreateFailure(package, "meta/disabled");
      return false;
    }
  } else {
    changes.remove(dir + "disabled");
  }
  if (!package.disabled && package.userChosen) {
    if (!writeStateFile(changes, dir + "enabled", "user")) {
      repository.reportCreateFailure(package, "meta/enabled");
      return false;
    }
  } else {
    changes.remove(dir + "enabled");
  }
  return true;
}
