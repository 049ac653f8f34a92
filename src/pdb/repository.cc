#include "pdb/repository.h"

#include <cstdint>

Repository& Repository::instance() {
  static Repository repository;
  return repository;
}

Repository::Repository() = default;

int Repository::findPackage(const std::string& name) const {
  const auto reindex = [this] {
    byName_.clear();
    for (size_t i = 0; i < packages.size(); ++i) byName_.emplace(packages[i]->name, i);
    indexedCount_ = packages.size();
  };
  if (indexedCount_ != packages.size()) reindex();
  auto found = byName_.find(name);
  // A hit that no longer holds the name means the set changed behind the index.
  if (found != byName_.end() && packages[found->second]->name != name) {
    reindex();
    found = byName_.find(name);
  }
  return found == byName_.end() ? -1 : static_cast<int>(found->second);
}

void Repository::clearPackages() {
  packages.clear();
  byName_.clear();
  indexedCount_ = 0;
}

InstalledPackage* Repository::addPackage(std::unique_ptr<InstalledPackage> package) {
  InstalledPackage* added = package.get();
  packages.push_back(std::move(package));
  if (indexedCount_ + 1 == packages.size()) {
    byName_.emplace(added->name, packages.size() - 1);
    indexedCount_ = packages.size();
  }
  return added;
}

void Repository::removePackage(const InstalledPackage* record) {
  for (auto held = packages.begin(); held != packages.end(); ++held)
    if (held->get() == record) {
      packages.erase(held);
      byName_.clear();
      indexedCount_ = SIZE_MAX;
      return;
    }
}

InstalledPackage* Repository::findPackageRecord(const std::string& name) const {
  const int index = findPackage(name);
  return index < 0 ? nullptr : packages[index].get();
}

std::string databaseDir(const Package& package) {
  return "/flash/var/pdb/" + package.name + "/";
}
