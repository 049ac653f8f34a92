#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/package.h"
#include "pkgfile/package_format.h"

// What a package or bundle file holds, read with the installer's own reader: the
// part frame, the bundle header, and each package's metadata, file list and
// signature part.

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
  std::vector<ContainerFileInfo> files;
  bool hasSignature = false;
  uint32_t signatureLength = 0;
};

struct FileInspection {
  uint32_t magic = 0;
  uint32_t declaredSize = 0;  // length word + 8
  uint64_t size = 0;          // bytes actually there
  std::vector<PartInfo> parts;
  bool isBundle = false;
  PackageInfo bundle;  // the bundle header's identity, texts and payload
  std::vector<DependencyEntry> bundleTable;  // its type-20 entry table
  std::vector<PackageInfo> packages;         // the bundle's members, or the one package
  // Everything found damaged, in file order; empty when the file reads whole.
  std::vector<std::string> problems;
};

// The parts of the file held in bytes, as the installer's reader frames them. False
// when it is no package file or its parts do not run exactly to its end (a cut last
// part is still listed).
bool listParts(const std::string& bytes, std::vector<PartInfo>& parts);

// Reads the file held in bytes. False when it is no package file at all (fewer than
// 8 bytes, or an unknown magic); otherwise true, with damage listed in problems.
bool inspectPackageBytes(const std::string& bytes, FileInspection& inspection);

// Reads the file at path and takes it apart as inspectPackageBytes does; complains,
// naming path, and returns false when it cannot be read or is not a package file.
bool loadPackageFile(const std::string& path, std::string& bytes, FileInspection& inspection);
