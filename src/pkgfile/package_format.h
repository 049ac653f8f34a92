#pragma once

#include <cstdint>
#include <string>

// Package file layout. Integers are little-endian and unaligned.
//
// File header, 8 bytes: magic (u32, kPackageMagic or kAltPackageMagic), length
// (u32, bytes after the file header; the declared file size is length + 8).
// Then parts back to back, each a 6-byte part header, type (u16) and length (u32),
// followed by its payload.
//
// Header record (payload of PackageHeaderPart and BundleHeaderPart), 32 or 36 bytes:
//   0 name[16] NUL-padded (all 16 bytes are name when no NUL occurs)
//  16 version (u32)   20 build time (u32)   24 reserved[8]   32 flags (u32, optional)
//
// Entry table (payload of DependenciesPart, ConflictsPart, ProvidesPart,
// BundleEntryTablePart): count (u16), then count entries of 32 bytes:
//   0 name[16]   16 minVersion (u32)   20 reserved (u32)   24 maxVersion (u32)
//  28 priority (i32)

constexpr uint32_t kPackageMagic = 0xBAD0F11E;
constexpr uint32_t kAltPackageMagic = 0xA1100FFB;
constexpr size_t kFileHeaderSize = 8;
constexpr size_t kPartHeaderSize = 6;
constexpr size_t kNameFieldSize = 16;
constexpr size_t kHeaderRecordSize = 32;
constexpr size_t kEntrySize = 32;

enum PartType : uint16_t {
  PackageHeaderPart = 1,
  Text2Part = 2,
  DependenciesPart = 3,
  FileContainerPart = 4,
  SignaturePart = 9,
  ArchitecturePart = 16,
  ConflictsPart = 17,
  BundleHeaderPart = 18,
  ProvidesPart = 19,
  BundleEntryTablePart = 20,
  OpaquePayloadPart = 21,
  NotePart = 23,
  Text24Part = 24,
  DigestSwitchPart = 25,
};

// File container entry (inflated), back to back until a header cannot be read:
//   0 mode (u16: type & 0xF000, 0x8000 regular file; permissions & 0x0FFF)
//   2 not read[21]   23 pass-over byte (non-zero: entry passed over)
//  24 data length (u32)   28 name length (u16)   30 name   30+name length data
constexpr size_t kContainerEntryHeaderSize = 30;
constexpr uint16_t kFileTypeMask = 0xF000;
constexpr uint16_t kRegularFileType = 0x8000;
constexpr uint16_t kDirectoryType = 0x4000;
constexpr uint16_t kSymlinkType = 0xA000;

inline uint16_t readLe16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline uint32_t readLe32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

inline void writeLe16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void writeLe32(uint8_t* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The name in a 16-byte NUL-padded field: up to the first NUL, or all 16 bytes.
inline std::string readNameField(const uint8_t* field) {
  size_t length = 0;
  while (length < kNameFieldSize && field[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(field), length);
}

// The fields of a container entry header that anything reads.
struct ContainerEntryHeader {
  uint16_t mode = 0;
  uint8_t passOver = 0;
  uint32_t dataLength = 0;
  uint16_t nameLength = 0;

  uint16_t fileType() const { return mode & kFileTypeMask; }
  // Only a regular file that is not passed over creates a file.
  bool createsFile() const { return fileType() == kRegularFileType && passOver == 0; }
};

inline ContainerEntryHeader decodeContainerEntryHeader(const uint8_t* bytes) {
  ContainerEntryHeader header;
  header.mode = readLe16(bytes);
  header.passOver = bytes[23];
  header.dataLength = readLe32(bytes + 24);
  header.nameLength = readLe16(bytes + 28);
  return header;
}

// The 30 header bytes of an entry; the bytes nothing reads are zero.
inline void encodeContainerEntryHeader(const ContainerEntryHeader& header, uint8_t* bytes) {
  for (size_t i = 0; i < kContainerEntryHeaderSize; ++i) bytes[i] = 0;
  writeLe16(bytes, header.mode);
  bytes[23] = header.passOver;
  writeLe32(bytes + 24, header.dataLength);
  writeLe16(bytes + 28, header.nameLength);
}
