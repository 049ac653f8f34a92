// Builds the installed set at start-up: packages kept as whole images first, then
// every other database directory from its text files (formats in
// database_writer.h), and for each package its enable state and the schedule
// word that other parts of the system leave under "/ram/pdb/".

#include "pdb/database_loader.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <memory>
#include <set>
#include <unordered_set>

#include "model/safe_names.h"
#include "pdb/repository.h"
#include "platform/file_handles.h"
#include "pkgfile/discovery.h"

bool readEntryList(const std::string& path, std::vector<DependencyEntry>& entries,
                   bool withPriority) {
  std::ifstream in(path);
  for (;;) {
    DependencyEntry entry;
    if (!(in >> entry.name)) return true;
    if (!(in >> entry.minVersion >> entry.maxVersion)) return false;
    if (withPriority && !(in >> entry.priority)) return false;
    entries.push_back(std::move(entry));
  }
}

std::string scheduleFileName(const std::string& name) {
  std::string reduced;
  for (const char c : name)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') reduced += c;
  return reduced;
}

namespace {

// One installed path a line, with or without its leading "/"; empty lines are
// passed over. A missing file adds nothing.
void readFileList(const std::string& path, std::set<std::string>& files) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line[0] != '/') line.insert(0, 1, '/');
    files.insert(std::move(line));
  }
}

}  // namespace

void InstalledPackage::loadMetadata() {
  const std::string dir = databaseDir(*this);

  // A package read from its image already has its description; only its state
  // lives in the directory.
  if (version == 0) {
    {
      std::ifstream in(dir + "version");
      if (!(in >> version >> buildTime)) scheduledAction = ScheduledAction::Uninstall;
    }
    // Each list is read whole even after a broken one: its entries still count.
    const bool depsRead = readEntryList(dir + "deps", dependencies, false);
    const bool providesRead = readEntryList(dir + "provides", provides, true);
    const bool conflictsRead = readEntryList(dir + "conflicts", conflicts, false);
    if (!depsRead || !providesRead || !conflictsRead) scheduledAction = ScheduledAction::Uninstall;
    {
      // A bundle member comes from its bundle's image; one that names a bundle
      // but reached this point lost that image and is taken away.
      std::ifstream in(dir + "bundle");
      std::string word;
      if (in >> word) {
        bundle = DependencyEntry{word, 0, 0, 0};
        scheduledAction = ScheduledAction::Uninstall;
      }
    }
    struct stat info;
    isBundle = stat((dir + "files").c_str(), &info) != 0;
    readFileList(dir + "files", files);
  } else if (!bundle.name.empty()) {
    // A member of a bundle image was unpacked like any package: its file list lies
    // in its directory, and removing the member must reach those files.
    readFileList(dir + "files", files);
  }

  userChosen = false;
  std::ifstream disabledFile(dir + "disabled");
  disabled = disabledFile.is_open();
  if (disabled) {
    std::string line;
    std::getline(disabledFile, line);
    userChosen = line != "auto";
  } else if (std::ifstream(dir + "enabled").is_open()) {
    userChosen = true;
  }

  if (isPlaceholder()) return;
  std::ifstream schedule("/ram/pdb/" + scheduleFileName(name) + "/schedule");
  std::string word;
  if (!(schedule >> word)) return;
  if (word == "uninstall") {
    scheduledAction = ScheduledAction::Uninstall;
  } else if (word == "enable") {
    scheduledAction = ScheduledAction::Enable;
    userChosen = true;
  } else if (word == "disable") {
    scheduledAction = ScheduledAction::Disable;
    userChosen = true;
  }
}

namespace {

bool isDirectoryEntry(const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
  struct stat info;
  return lstat(("/flash/var/pdb/" + std::string(entry.d_name)).c_str(), &info) == 0 &&
         S_ISDIR(info.st_mode);
}

}  // namespace

void Repository::open(const std::string& architecture, bool quietOutput) {
  quiet = quietOutput;
  arch = architecture;
  if (!scanInstalledImages(*this, "")) {
    warning("could not open repo");
    return;
  }
  scanInstalledImages(*this, "/rw/pckg/.images/");

  const DirectoryHandle directory(opendir("/flash/var/pdb/"));
  if (!directory) return;
  for (const auto& package : packages) package->loadMetadata();

  // Packages without an image are known only from their directories. A directory
  // name with a blank or a control character is no package name: it would forge a
  // row of the listing and could not survive the database's text files. The names
  // known so far are kept aside, so that a large database is not searched once per
  // entry. Only directories count: a file there is no package (a package file
  // received through standard input is written there as "image" until it is
  // installed, and a run cut short leaves it).
  std::unordered_set<std::string> known;
  for (const auto& package : packages) known.insert(package->name);
  while (const dirent* entry = readdir(directory.get())) {
    if (entry->d_name[0] == '.' || !isSafePackageName(entry->d_name)) continue;
    if (!isDirectoryEntry(*entry)) continue;
    if (!known.insert(entry->d_name).second) continue;
    auto package = std::make_unique<InstalledPackage>(entry->d_name);
    package->loadMetadata();
    packages.push_back(std::move(package));
  }
}
