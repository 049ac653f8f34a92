#include "pkgtool/package_report.h"

#include <cerrno>
#include <cstring>
#include <istream>
#include <streambuf>

#include "pkgfile/file_container.h"
#include "pkgfile/package_format.h"
#include "pkgfile/package_reader.h"
#include "pkgtool/command_line.h"
#include "pkgtool/file_io.h"

namespace {

// A seekable input stream buffer over bytes held in memory, not copied.
class MemorySource : public std::streambuf {
 public:
  explicit MemorySource(const std::string& bytes) {
    char* begin = const_cast<char*>(bytes.data());
    setg(begin, begin, begin + bytes.size());
  }

 protected:
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override {
    if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
    off_type base = 0;
    if (direction == std::ios_base::cur)
      base = gptr() - eback();
    else if (direction == std::ios_base::end)
      base = egptr() - eback();
    return seekpos(pos_type(base + offset), which);
  }
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
    const off_type target = position;
    if (!(which & std::ios_base::in) || target < 0 || target > egptr() - eback())
      return pos_type(off_type(-1));
    setg(eback(), eback() + target, egptr());
    return position;
  }
};

// Lists the entries of the file container the reader stands on. False when the
// container ends inside an entry.
bool listContainer(PackageReader& reader, std::vector<ContainerFileInfo>& files) {
  constexpr uint32_t kLongestShownTarget = 4096;
  InflatingStreamBuffer inflating(reader.rdbuf());
  std::istream in(&inflating);
  for (;;) {
    uint8_t bytes[kContainerEntryHeaderSize];
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (in.gcount() == 0) return true;
    if (in.gcount() != static_cast<std::streamsize>(sizeof bytes)) return false;
    const ContainerEntryHeader header = decodeContainerEntryHeader(bytes);
    ContainerFileInfo file;
    file.mode = header.mode;
    file.passOver = header.passOver;
    file.size = header.dataLength;
    file.name.resize(header.nameLength);
    in.read(file.name.data(), header.nameLength);
    if (in.gcount() != header.nameLength) return false;
    if (header.fileType() == kSymlinkType && file.size <= kLongestShownTarget) {
      file.linkTarget.resize(file.size);
      in.read(file.linkTarget.data(), file.size);
      if (in.gcount() != static_cast<std::streamsize>(file.size)) return false;
    } else {
      in.ignore(file.size);
      if (in.gcount() != static_cast<std::streamsize>(file.size)) return false;
    }
    files.push_back(std::move(file));
  }
}

}  // namespace

bool listParts(const std::string& bytes, std::vector<PartInfo>& parts) {
  MemorySource source(bytes);
  std::istream in(&source);
  PackageReader reader(in, false);
  if (reader.magic != kPackageMagic && reader.magic != kAltPackageMagic) return false;
  for (uint32_t type = 0; type <= UINT16_MAX; ++type) reader.wantPart(type);
  while (reader.nextPart() != -1) {
    const PartStreamBuffer& part = reader.parts();
    parts.push_back({static_cast<uint16_t>(reader.currentPart),
                     static_cast<uint32_t>(part.partStart() - kPartHeaderSize),
                     part.partLength()});
  }
  // Whole when the last part ends exactly at the end of the data: a cut part header
  // ends the list short of it, a cut payload runs past it.
  uint64_t end = kFileHeaderSize;
  if (!parts.empty()) end = uint64_t{parts.back().offset} + kPartHeaderSize + parts.back().length;
  return end == bytes.size();
}

bool inspectPackageBytes(const std::string& bytes, FileInspection& inspection) {
  inspection = FileInspection();
  inspection.size = bytes.size();
  MemorySource source(bytes);
  std::istream in(&source);
  PackageReader reader(in, false);
  if (reader.magic != kPackageMagic && reader.magic != kAltPackageMagic) return false;
  inspection.magic = reader.magic;
  inspection.declaredSize = reader.declaredSize;

  if (!listParts(bytes, inspection.parts))
    inspection.problems.push_back("the last part runs past the end of the file");
  if (inspection.declaredSize != bytes.size())
    inspection.problems.push_back("the header declares " +
                                  std::to_string(inspection.declaredSize) +
                                  " bytes, the file has " + std::to_string(bytes.size()));

  for (const uint32_t type : {BundleHeaderPart, PackageHeaderPart, Text24Part, ArchitecturePart,
                              Text2Part, NotePart, DependenciesPart, ProvidesPart,
                              ConflictsPart, OpaquePayloadPart, BundleEntryTablePart,
                              FileContainerPart, SignaturePart})
    reader.wantPart(type);

  PackageInfo* current = nullptr;  // the package (or bundle) whose parts follow
  int type = reader.nextPart();
  while (type != -1) {
    if (type == PackageHeaderPart || (type == BundleHeaderPart && !inspection.isBundle &&
                                      inspection.packages.empty())) {
      if (type == BundleHeaderPart) {
        inspection.isBundle = true;
        current = &inspection.bundle;
      } else {
        current = &inspection.packages.emplace_back();
      }
      if (!readHeader(current->meta, reader)) {
        inspection.problems.push_back("a package header or entry table is cut short");
        break;
      }
      type = reader.currentPart;
      continue;
    }
    if (current != nullptr) {
      if (type == OpaquePayloadPart) {
        current->payloadLength = reader.partRemaining();
      } else if (type == BundleEntryTablePart && current == &inspection.bundle) {
        if (!readEntryTable(reader, inspection.bundleTable))
          inspection.problems.push_back("the bundle's entry table is cut short");
      } else if (type == FileContainerPart) {
        current->hasContainer = true;
        if (!listContainer(reader, current->files))
          inspection.problems.push_back("the file container of " + current->meta.name +
                                        " is damaged");
      } else if (type == SignaturePart) {
        current->hasSignature = true;
        current->signatureLength = reader.partRemaining();
      }
    }
    type = reader.nextPart();
  }
  return true;
}

bool loadPackageFile(const std::string& path, std::string& bytes, FileInspection& inspection) {
  if (!readWholeFile(path, bytes)) {
    complain("cannot read %s: %s", path.c_str(), strerror(errno));
    return false;
  }
  if (!inspectPackageBytes(bytes, inspection)) {
    complain("%s is not a package file", path.c_str());
    return false;
  }
  return true;
}
