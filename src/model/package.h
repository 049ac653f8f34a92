#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/scheduled_action.h"
#include "model/version.h"

// Bits of Package::flags that the installer acts on; other bits are carried unchanged.
enum PackageFlag : uint32_t {
  BOOT_PACKAGE = 0x1,  // the system's boot package, tied to "/flash/bootimage"
  STATE_ONLY = 0x2,    // the database keeps only the enabled/disabled state
};

// One entry of a dependency, provides or conflicts list; also a bundle reference.
struct DependencyEntry {
  std::string name;
  Version minVersion = 0;
  Version maxVersion = 0;  // 0 = no upper bound
  int32_t priority = 0;
};

// A package as read from a package file, an installed image or the database.
class Package {
 public:
  explicit Package(std::string name = {});
  virtual ~Package();
  // A copy has its own entry lists but shares the member records.
  Package(const Package&) = default;
  Package& operator=(const Package&) = default;

  // Version and build time both 0xFFFFFFFF: never conflicts, never provides,
  // has no schedule.
  bool isPlaceholder() const;

  std::string name;
  Version version = 0;
  uint32_t buildTime = 0;
  uint32_t flags = 0;
  std::string part24Text;
  std::string architecture;
  std::string part2Text;
  std::string note;
  bool hasOpaquePayload = false;
  std::vector<DependencyEntry> dependencies;
  std::vector<DependencyEntry> provides;
  std::vector<DependencyEntry> conflicts;
  bool isBundle = false;
  // Members of a bundle in file order. Shared: a member outlives every bundle
  // record (and copy) that lists it.
  std::vector<std::shared_ptr<Package>> members;
};

// A package file found in a download directory.
class PackageFile : public Package {
 public:
  PackageFile();
  ~PackageFile() override;

  std::string path;
  uint32_t declaredSize = 0;
  bool altMagic = false;  // the file header carries 0xA1100FFB
};

// A member of the installed set.
class InstalledPackage : public Package {
 public:
  explicit InstalledPackage(std::string name = {});
  ~InstalledPackage() override;

  // Reads the package's database files and schedule word into this record.
  // Problems only set scheduledAction to Uninstall.
  void loadMetadata();

  std::set<std::string> files;  // absolute paths, byte order
  DependencyEntry bundle;       // empty name: not from a bundle
  bool disabled = false;
  bool userChosen = false;
  ScheduledAction scheduledAction = ScheduledAction::None;
};

// package name, "-", version text.
std::string displayName(const Package& package);
// The entry's name, and "-" with its minVersion text when that is not 0.
std::string bundleRefName(const DependencyEntry& entry);
// The bundle's name for a bundle member, otherwise displayName.
std::string progressName(const InstalledPackage& package);

// P satisfies E: same name, E.minVersion <= P.version, and E.maxVersion is 0 or
// at least P.version.
bool satisfies(const Package& package, const DependencyEntry& entry);
