#include "pdb/repository.h"

Repository& Repository::instance() {
  static Repository repository;
  return repository;
}

Repository::Repository() = default;

int Repository::findPackage(const std::string& name) const {
  for (size_t i = 0; i < packages.size(); ++i)
    if (packages[i]->name == name) return static_cast<int>(i);
  return -1;
}

InstalledPackage* Repository::findPackageRecord(const std::string& name) const {
  const int index = findPackage(name);
  return index < 0 ? nullptr : packages[index].get();
}

std::string databaseDir(const Package& package) {
  return "/flash/var/pdb/" + package.name + "/";
}
