#include "model/package.h"

#include <utility>

Package::Package(std::string name) : name(std::move(name)) {}
Package::~Package() = default;

bool Package::isPlaceholder() const {
  return version == 0xFFFFFFFFu && buildTime == 0xFFFFFFFFu;
}

PackageFile::PackageFile() = default;
PackageFile::~PackageFile() = default;

InstalledPackage::InstalledPackage(std::string name) : Package(std::move(name)) {}
InstalledPackage::~InstalledPackage() = default;

std::string displayName(const Package& package) {
  return package.name + "-" + versionText(package.version);
}

std::string bundleRefName(const DependencyEntry& entry) {
  if (entry.minVersion == 0) return entry.name;
  return entry.name + "-" + versionText(entry.minVersion);
}

std::string progressName(const InstalledPackage& package) {
  if (!package.bundle.name.empty()) return bundleRefName(package.bundle);
  return displayName(package);
}

bool satisfies(const Package& package, const DependencyEntry& entry) {
  return package.name == entry.name && package.version >= entry.minVersion &&
         (entry.maxVersion == 0 || entry.maxVersion >= package.version);
}
