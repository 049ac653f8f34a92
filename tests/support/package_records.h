#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/package.h"
#include "pdb/repository.h"

// The final release major.minor[.number] as one packed version.
constexpr Version release(unsigned major, unsigned minor, unsigned number = 0) {
  return major << 24 | minor << 16 | 'f' << 8 | number;
}

// Release 6.minor; 0 stays 0 (no bound in a range).
constexpr Version six(unsigned minor) { return minor ? release(6, minor) : 0; }

// A package record in one expression: Pkg("core").member(Pkg("wireless").clash("ppp")).
// disabled and action apply when it is installed.
struct Pkg {
  explicit Pkg(const char* name, Version version = release(6, 42), uint32_t buildTime = 100) {
    p.name = name;
    p.version = version;
    p.buildTime = buildTime;
  }
  Pkg& needs(const char* name, Version min = 0) { return add(p.dependencies, {name, min, 0, 0}); }
  Pkg& gives(const char* name, int32_t priority = 0, Version min = 0, Version max = 0) {
    return add(p.provides, {name, min, max, priority});
  }
  Pkg& clash(const char* name, Version min = 0, Version max = 0) {
    return add(p.conflicts, {name, min, max, 0});
  }
  Pkg& member(const Pkg& m) {
    p.members.push_back(std::make_shared<Package>(m.p));
    p.isBundle = true;
    return *this;
  }
  Pkg& arch(const char* architecture) {
    p.architecture = architecture;
    return *this;
  }
  Pkg& state(bool off, ScheduledAction next = ScheduledAction::None) {
    disabled = off;
    action = next;
    return *this;
  }
  Pkg& add(std::vector<DependencyEntry>& list, const DependencyEntry& entry) {
    list.push_back(entry);
    return *this;
  }
  Package p;
  bool disabled = false;
  ScheduledAction action = ScheduledAction::None;
};

// Adds record to the repository as an installed package.
inline void addInstalled(Repository& repository, const Pkg& record) {
  auto& package = repository.packages.emplace_back(std::make_unique<InstalledPackage>());
  static_cast<Package&>(*package) = record.p;
  package->disabled = record.disabled;
  package->scheduledAction = record.action;
}
