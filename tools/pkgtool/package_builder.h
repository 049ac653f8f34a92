#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/package.h"
#include "pkgfile/package_format.h"

// Builds package files byte for byte in the format the installer reads. Used by the
// package tool and by the tests.

// One entry of a file container.
struct ContainerEntry {
  std::string name;
  uint16_t mode = kRegularFileType | 0644;  // type and permission bits
  std::string data;         // file contents, or a link's target
  uint8_t passOver = 0;
};

// The inflated container bytes of the entries, in order.
std::string encodeContainer(const std::vector<ContainerEntry>& entries);
// zlib-wrapped deflate of data (level 9: same input, same bytes).
std::string deflateBytes(std::string_view data);

// 32-byte header record, plus the flags word when withFlags.
std::string encodeHeaderRecord(const Package& package, bool withFlags);
// u16 count and 32-byte entries.
std::string encodeEntryTable(const std::vector<DependencyEntry>& entries);

// Accumulates parts and prefixes the file header.
class PartWriter {
 public:
  void part(uint16_t type, std::string_view payload);
  void raw(std::string_view bytes) { body_.append(bytes); }
  const std::string& body() const { return body_; }
  // File header (magic, body length) followed by the body.
  std::string file(uint32_t magic) const;

 private:
  std::string body_;
};

// Where a digest-switch part (type 25) goes, if any.
enum class DigestSwitch { None, BeforeHeader, AfterHeader };

// Everything one package of a file carries.
struct PackageLayout {
  Package meta;  // identity, texts and lists; empty texts and lists write no part
  bool withFlags = true;                 // 36-byte header record instead of 32
  std::vector<ContainerEntry> files;     // the file container
  bool hasPayload = false;               // write an opaque payload part (type 21)
  std::string payload;
  DigestSwitch digestSwitch = DigestSwitch::None;
  uint32_t signatureLength = 0;          // zero bytes until the package is signed
};

// The parts of one package, from its header part (or a leading digest switch) to
// its signature part.
std::string encodePackageParts(const PackageLayout& layout);
// A whole single-package file.
std::string buildPackageFile(const PackageLayout& layout, uint32_t magic = kPackageMagic);

struct BundleLayout {
  Package meta;  // name, version, build time, flags, architecture, note
  bool hasPayload = true;  // the type-21 part (empty payload unless given)
  std::string payload;
  std::vector<DependencyEntry> entryTable;  // type-20 part when not empty
  std::vector<PackageLayout> members;
};

// The bundle's own parts: header, metadata, payload part and entry table.
std::string encodeBundleHead(const BundleLayout& layout);
// A bundle file: bundle header, its payload part, its entry table, then each
// member's parts.
std::string buildBundleFile(const BundleLayout& layout, uint32_t magic = kPackageMagic);
