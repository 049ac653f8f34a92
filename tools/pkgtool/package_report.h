#pragma once

#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "model/package.h"
#include "pkgfile/package_format.h"
#include "pkgtool/file_io.h"
#include "pkgtool/key_files.h"
#include "pkgtool/signature_report.h"

// What a package or bundle file holds, read with the installer's own reader: the
// part frame, the bundle header, and each package's metadata, file list and
// signature part. The file is read front to back and everything is handed on as it
// is found, so that memory stays bounded whatever the file holds: only the package
// being read (its metadata as the installer keeps it) and one container entry are
// held at a time.

// A file container lists at most this many entries; one that holds more is
// suspicious (1 MB of zlib data inflates to some 35 million empty entries), and the
// rest of it is not read.
constexpr uint32_t kMostListedEntries = 100000;

struct PartInfo {
  uint16_t type = 0;
  uint32_t offset = 0;  // absolute offset of the 6-byte part header
  uint32_t length = 0;  // payload bytes
};

struct ContainerFileInfo {
  std::string name;
  uint16_t mode = 0;
  uint32_t size = 0;
  uint8_t passOver = 0;
  std::string linkTarget;  // the data of a symbolic-link entry of up to 4096 bytes

  bool isSymlink() const { return (mode & kFileTypeMask) == kSymlinkType; }
};

struct PackageInfo {
  Package meta;                // as the installer's readHeader fills it
  uint32_t payloadLength = 0;  // of the opaque payload part, when meta.hasOpaquePayload
  bool hasContainer = false;
  uint32_t entries = 0;            // container entries listed
  bool containerDamaged = false;   // its zlib stream is damaged or cut, or an entry is
  bool entriesSuspicious = false;  // more than kMostListedEntries entries
  bool hasSignature = false;
  uint32_t signatureLength = 0;
};

// What the frame of a file says: its header and how its parts lie.
struct FileFrame {
  uint32_t magic = 0;
  uint32_t declaredSize = 0;  // length word + 8
  uint64_t size = 0;          // bytes actually there
  bool isBundle = false;      // the first header part is a bundle header
  bool whole = false;         // the parts run exactly to the end of the file
  uint64_t firstDigestSwitch = UINT64_MAX;  // offset of the first type-25 part
};

// Receives what a file holds, in file order.
class PackageObserver {
 public:
  virtual ~PackageObserver() = default;
  // The file header is read (magic, declared size and size are known); before the parts.
  virtual void frameBegins(const FileFrame&) {}
  virtual void part(const PartInfo&) {}
  // The bundle header's identity, texts, payload and entry table; before its members.
  virtual void bundle(const PackageInfo&, const std::vector<DependencyEntry>&) {}
  // A package's identity and metadata, before anything of its container.
  virtual void packageBegins(const PackageInfo&) {}
  // The package's first file container, before its entries.
  virtual void containerBegins() {}
  virtual void entry(const ContainerFileInfo&) {}
  // The package is read; report is null when signatures are not checked.
  virtual void packageEnds(const PackageInfo&, const PackageSignatureReport*) {}
  // Damage found, in file order.
  virtual void problem(const std::string&) {}
};

// Reads the frame of the file in source (size bytes, seekable), handing each part to
// observer and the frame's damage to its problem(). False when it is no package
// file at all (fewer than 8 bytes, or an unknown magic).
bool readFrame(std::streambuf& source, uint64_t size, FileFrame& frame,
               PackageObserver& observer);

// The package file at path, opened, with its frame read into frame; null, after a
// complaint naming path, when it cannot be read or is no package file.
std::unique_ptr<FileSource> openPackageFile(const std::string& path, FileFrame& frame);

struct WalkOptions {
  bool listEntries = true;             // inflate each container and hand on its entries
  const PublicKeySet* keys = nullptr;  // check each package's signature against them
};

// Reads the packages of the file in source from its start, as frame describes it,
// handing each to observer.
void readPackages(std::streambuf& source, const FileFrame& frame, const WalkOptions& options,
                  PackageObserver& observer);

// The parts of the file held in bytes, as the installer's reader frames them. False
// when it is no package file or its parts do not run exactly to its end (a cut last
// part is still listed).
bool listParts(const std::string& bytes, std::vector<PartInfo>& parts);

// A seekable input stream buffer over bytes held in memory, not copied.
class MemorySource : public std::streambuf {
 public:
  explicit MemorySource(const std::string& bytes);

 protected:
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
};
