#include "pkgfile/discovery.h"

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <initializer_list>
#include <string_view>

#include "model/safe_names.h"
#include "pdb/repository.h"
#include "pkgfile/package_reader.h"
#include "platform/file_handles.h"

namespace {

bool endsWith(const std::string& text, const char* suffix) {
  const std::string_view tail(suffix);
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void wantParts(PackageReader& reader, std::initializer_list<uint32_t> types) {
  for (const uint32_t type : types) reader.wantPart(type);
}

// Reads one package file into record; false when it is not whole.
bool readPackageFile(PackageFile& record) {
  std::ifstream file;
  if (!openRegularFile(file, record.path)) return false;
  // Without digest the reader seeks over the file container: the scan needs only the
  // header parts, and the install reads the whole file again to check its signature.
  PackageReader reader(file, false);
  record.declaredSize = reader.declaredSize;
  struct stat info;
  if (stat(record.path.c_str(), &info) == 0 &&
      static_cast<uint64_t>(info.st_size) != record.declaredSize)
    return false;
  record.altMagic = reader.magic == kAltPackageMagic;
  wantParts(reader, {BundleHeaderPart, PackageHeaderPart, Text24Part, ArchitecturePart, Text2Part,
                     NotePart, DependenciesPart, ProvidesPart, ConflictsPart, OpaquePayloadPart});
  reader.nextPart();
  if (!readHeader(record, reader)) return false;
  if (!record.isBundle) return true;
  for (;;) {
    if (reader.currentPart == OpaquePayloadPart) reader.nextPart();
    if (reader.currentPart != PackageHeaderPart) return !record.members.empty();
    auto member = std::make_shared<Package>();
    if (!readHeader(*member, reader)) return false;
    record.members.push_back(std::move(member));
  }
}

}  // namespace

void scanPackageFiles(const std::string& directory,
                      std::vector<std::unique_ptr<PackageFile>>& found) {
  const DirectoryHandle listing(opendir(directory.c_str()));
  if (!listing) return;
  while (const dirent* entry = readdir(listing.get())) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    const std::string path = directory + name;
    if (!endsWith(path, ".zpk") && !endsWith(path, ".wpk")) continue;

    auto record = std::make_unique<PackageFile>();
    record->path = path;
    if (readPackageFile(*record))
      found.push_back(std::move(record));
    else
      Repository::instance().error("broken package %s", name.c_str());
  }
}

bool scanInstalledImages(Repository& repository, const std::string& imageDirectory) {
  const DirectoryHandle listing(opendir("/flash/var/pdb/"));
  if (!listing) return false;
  while (const dirent* entry = readdir(listing.get())) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    if (!isSafePackageName(name)) continue;
    auto record = std::make_unique<InstalledPackage>(name);
    const std::string imagePath =
        imageDirectory.empty() ? databaseDir(*record) + "image" : imageDirectory + name;
    std::ifstream image;
    if (!openRegularFile(image, imagePath)) continue;

    // Without digest the reader seeks over the payload and the file container, so
    // only the header parts of an image are read.
    PackageReader reader(image, false);
    wantParts(reader, {BundleHeaderPart, PackageHeaderPart, Text24Part, NotePart, DependenciesPart,
                       ProvidesPart, ConflictsPart});
    if (reader.nextPart() == BundleHeaderPart) {
      readHeader(*record, reader);
      const DependencyEntry bundle{record->name, record->version, record->version, 0};
      while (reader.currentPart == PackageHeaderPart) {
        auto member = std::make_unique<InstalledPackage>();
        // A header record cut short leaves the reader where it was: the member has
        // nothing worth keeping and the loop would not advance.
        if (!readHeader(*member, reader) && reader.currentPart == PackageHeaderPart) break;
        member->bundle = bundle;
        // A member name that is not a safe package name would have its database
        // files read from outside the database, and could forge a listing row.
        if (isSafePackageName(member->name)) repository.packages.push_back(std::move(member));
      }
    } else {
      readHeader(*record, reader);
    }
    if (isSafePackageName(record->name)) repository.packages.push_back(std::move(record));
  }
  return true;
}
