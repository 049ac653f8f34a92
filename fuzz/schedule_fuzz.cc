// Runs the schedule over an installed set decoded from the input: applySchedule
// must end, and leave every remaining record with an action of 0 to 3. Its state
// files go into a change set inside the scratch root, discarded after each input.
//
// Input, read byte by byte (zero once it runs out): the package count (1 to 40),
// then per package
//   byte 0  bits 0-2 name ("a" to "h"), bit 3 bundle, bits 4-5 action, bit 6
//           disabled, bit 7 chosen by the user
//   byte 1  bits 0-1 major, bits 2-3 minor version; bit 7 a bundle member, of the
//           bundle named by bits 4-6
//   byte 2  counts of dependencies (bits 0-1), provides (2-3), conflicts (4-5) and
//           files (6-7)
//   byte 3  bits 0-3 build time, bit 4 boot package, bit 5 state only, bit 7 a
//           placeholder (version and build time 0xFFFFFFFF)
//   then one byte per dependency and conflicts entry (bits 0-2 name, 3-4 minimum,
//   5-6 maximum major version, 0 none), two per provides entry (the same, then a
//   signed priority) and one per file (its last path component).
// Records have no members, as none loaded from the database has: bundle membership
// is only the member's bundle name.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "changes/change_set.h"
#include "engine/schedule.h"
#include "model/package.h"
#include "pdb/repository.h"
#include "scratch_root.h"

namespace {

class ByteSource {
 public:
  ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t next() { return position_ < size_ ? data_[position_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

std::string nameOf(unsigned index) { return std::string(1, static_cast<char>('a' + (index & 7))); }

Version versionOf(unsigned major, unsigned minor) {
  return (major << 24) | (minor << 16) | (static_cast<unsigned>('f') << 8);
}

DependencyEntry entryOf(uint8_t byte) {
  DependencyEntry entry;
  entry.name = nameOf(byte);
  const unsigned minimum = (byte >> 3) & 3;
  const unsigned maximum = (byte >> 5) & 3;
  entry.minVersion = minimum == 0 ? 0 : versionOf(minimum, 0);
  entry.maxVersion = maximum == 0 ? 0 : versionOf(maximum, 3);
  return entry;
}

std::unique_ptr<InstalledPackage> decodePackage(ByteSource& in) {
  const uint8_t identity = in.next();
  const uint8_t version = in.next();
  const uint8_t counts = in.next();
  const uint8_t extra = in.next();

  auto package = std::make_unique<InstalledPackage>(nameOf(identity));
  package->isBundle = (identity & 0x08) != 0;
  package->scheduledAction = static_cast<ScheduledAction>((identity >> 4) & 3);
  package->disabled = (identity & 0x40) != 0;
  package->userChosen = (identity & 0x80) != 0;
  package->version = versionOf((version & 3) + 1, (version >> 2) & 3);
  if ((version & 0x80) != 0) package->bundle = DependencyEntry{nameOf(version >> 4), 0, 0, 0};
  package->buildTime = extra & 0x0F;
  if ((extra & 0x10) != 0) package->flags |= BOOT_PACKAGE;
  if ((extra & 0x20) != 0) package->flags |= STATE_ONLY;
  if ((extra & 0x80) != 0) package->version = package->buildTime = 0xFFFFFFFF;

  for (unsigned i = counts & 3; i != 0; --i) package->dependencies.push_back(entryOf(in.next()));
  for (unsigned i = (counts >> 2) & 3; i != 0; --i) {
    DependencyEntry entry = entryOf(in.next());
    entry.priority = static_cast<int8_t>(in.next());
    package->provides.push_back(entry);
  }
  for (unsigned i = (counts >> 4) & 3; i != 0; --i) package->conflicts.push_back(entryOf(in.next()));
  for (unsigned i = (counts >> 6) & 3; i != 0; --i)
    package->files.insert("/flash/f/" + std::to_string(in.next()));
  return package;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enterScratchRoot();
  ByteSource in(data, size);
  Repository repository;
  repository.quiet = true;
  for (unsigned count = in.next() % 40 + 1; count != 0; --count)
    repository.packages.push_back(decodePackage(in));

  ChangeSet changes;
  applySchedule(repository, changes, true);
  for (const auto& package : repository.packages)
    if (static_cast<uint32_t>(package->scheduledAction) > 3) abort();
  changes.discard();
  return 0;
}
