#pragma once

#include <cstdarg>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/package.h"

// The run's central state: the architecture packages must be built for, the
// installed set, and the console output layer's state.
class Repository {
 public:
  // The single instance of the run, created empty on first use.
  static Repository& instance();

  Repository();
  Repository(const Repository&) = delete;
  Repository& operator=(const Repository&) = delete;

  // Loads the installed set from the database and the kept images.
  void open(const std::string& arch, bool quiet);

  // Index in packages of the first package with this name, or -1. Found through an
  // index of the names, so that a run over a large installed set does not search it
  // once per lookup. The index is made again when packages has grown or shrunk since;
  // packages may be appended to directly, but is otherwise changed only through
  // addPackage, removePackage and clearPackages, which keep the index right.
  int findPackage(const std::string& name) const;
  // The first package with this name, or null.
  InstalledPackage* findPackageRecord(const std::string& name) const;
  // Appends package to the installed set; returns it.
  InstalledPackage* addPackage(std::unique_ptr<InstalledPackage> package);
  // Takes record out of the installed set (and frees it).
  void removePackage(const InstalledPackage* record);
  // Empties the installed set.
  void clearPackages();

  // Console output. Each message is one line of at most 255 formatted characters,
  // also kept in messageLog; quiet suppresses both.
  void warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void info(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Replaces the transient status line at the bottom of the console; "" erases it.
  void setStatus(const std::string& text);
  // Error line for a file that could not be created, chosen by errno.
  void reportCreateFailure(const InstalledPackage& package, const std::string& path);
  // "installation of %s failed: broken package".
  void reportBrokenPackage(const InstalledPackage& package);

  std::string arch;
  std::vector<std::unique_ptr<InstalledPackage>> packages;
  std::string statusLine;
  std::vector<std::string> messageLog;
  bool quiet = false;

 private:
  void print(const char* prefix, const char* format, va_list arguments);

  mutable std::unordered_map<std::string, size_t> byName_;  // first index of each name
  mutable size_t indexedCount_ = 0;  // packages.size() when byName_ was made
};

// "/flash/var/pdb/" + name + "/": the package's database directory.
std::string databaseDir(const Package& package);
