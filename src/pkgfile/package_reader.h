#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>
#include <vector>

#include "model/package.h"
#include "pkgfile/package_format.h"
#include "platform/crypto.h"

// Stream buffer over one part of a package file at a time. It keeps no buffer of
// its own: reads go straight to the source. A read error of the source, thrown or
// reported, is a short read: no exception leaves this buffer. Every byte consumed from the source is
// copied to the tee (when there is one) and, while digesting, fed to the running
// digest; bytes given back and read again are not fed twice.
//
// Copies of 1 KiB or more are gathered into blocks of 64 KiB for the tee, so that a
// large stream reaches it in few writes; the gathered bytes are handed on before
// any smaller copy, when the reader reaches the end of the data and when this
// buffer goes away. Smaller copies go straight to the tee, whose own buffer takes
// them as before.
//
// Running digest: SHA-1 at first. A type-25 part header switches to SHA-256 for the
// rest of the stream; a type-1 part header finishes the current digest into
// digestValue() (restarting it) before it is fed. The 8-byte file header is never
// digested.
class PartStreamBuffer : public std::streambuf {
 public:
  PartStreamBuffer(std::streambuf* source, bool digesting, std::streambuf* tee);
  ~PartStreamBuffer() override;

  uint32_t partStart() const { return partStart_; }  // absolute offset of the payload
  uint32_t partLength() const { return partLength_; }
  uint32_t remaining() const { return remaining_; }

  bool digesting() const { return digesting_; }
  // Finishes the running digest into digestValue() (20 bytes for SHA-1, 32 for
  // SHA-256; the rest of the 32-byte buffer is left as it was, zero at first).
  void finishDigest();
  const uint8_t* digestValue() const { return digestValue_; }

  // Reads up to count payload bytes straight from the source, teed but not
  // digested; remaining drops by the bytes read. Returns the count read.
  std::streamsize readUndigested(char* out, std::streamsize count);

  // A write to the tee failed: its copy of the stream is incomplete (bytes still
  // gathered count once handed on).
  bool teeFailed() const { return teeFailed_; }

 protected:
  int_type underflow() override;
  int_type uflow() override;
  std::streamsize xsgetn(char* out, std::streamsize count) override;
  int_type pbackfail(int_type c) override;
  std::streamsize showmanyc() override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  friend class PackageReader;

  // Reads up to count payload bytes from the source, teed and, with digest, fed to
  // the running digest; the count read.
  std::streamsize take(char* out, std::streamsize count, bool digest);
  std::streamsize consume(char* out, std::streamsize count);
  // Consumes and drops count payload bytes; false when fewer arrive.
  bool discard(uint32_t count);
  void account(const char* bytes, std::streamsize count);
  // Reads from the source; a read error, thrown or not, is a short read.
  std::streamsize sourceRead(char* out, std::streamsize count);
  void copyToTee(const char* bytes, std::streamsize count);
  // Hands the bytes gathered for the tee to it.
  void flushTee();
  // Reads the 8-byte file header into out (teed when whole); false when cut short.
  bool readFileHeader(uint8_t* out);
  // Reads the next 6-byte part header, tees it, applies the digest rules and makes
  // its part current; false when cut short or reaching beyond 32-bit offsets.
  bool readPartHeader(uint16_t& type);
  // Moves the source by delta bytes; false when the source cannot seek.
  bool seekSource(int64_t delta);
  // Moves to payload position p of the current part; false when impossible.
  bool positionAt(uint32_t p);
  // Skips the rest of the current part; false when it ends early.
  bool skipRest();

  std::streambuf* source_;
  uint32_t partStart_ = 0;
  uint32_t partLength_ = 0;
  uint32_t remaining_ = 0;
  std::streambuf* tee_;
  SHA1 sha1_;
  SHA256 sha256_;
  Digest* currentDigest_;
  bool digesting_;
  uint32_t skipCount_ = 0;
  bool teeFailed_ = false;
  std::vector<char> teeBlock_;  // copies gathered for the tee
  uint8_t digestValue_[32] = {};
};

// Input stream over a package file that stops at wanted part types. The source
// stream and the tee belong to the caller and must outlive the reader.
class PackageReader : public std::istream {
 public:
  // Reads the 8-byte file header at once. A short header or an unknown magic
  // leaves the reader bad: every read fails and nextPart returns -1.
  PackageReader(std::istream& source, bool digesting, std::streambuf* tee = nullptr);
  ~PackageReader() override;

  // Adds a part type that nextPart stops at. Add all before the first nextPart.
  void wantPart(uint32_t type);
  // Advances to the next wanted part and returns its type, or -1 at the end of the
  // data or on a failure (and every time after).
  int nextPart();
  // Payload bytes of the current part not yet consumed.
  uint32_t partRemaining() const { return parts_->remaining(); }
  PartStreamBuffer& parts() { return *parts_; }
  const PartStreamBuffer& parts() const { return *parts_; }

  int currentPart = -1;
  uint32_t magic = 0xFFFFFFFF;
  uint32_t declaredSize = 0;

 private:
  // Ends the reader: currentPart -1, stream at end and failed; returns -1.
  int stop();

  std::unique_ptr<PartStreamBuffer> parts_;
  std::vector<uint32_t> wanted_;
  bool finished_ = false;  // nextPart has returned -1
};

// Fills the package from the header part the reader stands on (type 1 or 18) and
// the metadata parts that follow in their fixed order (24, 16, 2, 23, 3, 19, 17,
// then notes a 21). False when the reader is not on a header part, the 32-byte
// record is cut short, or an entry table cannot be read. On return the reader
// stands on the first wanted part after the metadata.
bool readHeader(Package& package, PackageReader& reader);

// Appends the entries of the entry table the reader stands on. False when the
// count or an entry cannot be read.
bool readEntryTable(PackageReader& reader, std::vector<DependencyEntry>& entries);
