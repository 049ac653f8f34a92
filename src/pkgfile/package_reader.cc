#include "pkgfile/package_reader.h"

#include <algorithm>
#include <limits>

namespace {

// Skipped payload passes through the digest in chunks of this size.
constexpr uint32_t kSkipChunk = 16384;
// Copies for the tee of at least kTeeGathered bytes are gathered into blocks of
// kTeeBlock bytes.
constexpr size_t kTeeGathered = 1024;
constexpr size_t kTeeBlock = 65536;

const std::streambuf::pos_type kBadPosition{std::streambuf::off_type(-1)};

// Runs an operation on another stream buffer. The standard library's file buffer
// throws on a read error (EIO, or a directory opened as a file); to the reader that
// is a failed read, as at the end of a cut file, and nothing gets through.
template <typename Operation, typename Result>
Result guarded(Operation operation, Result failed) {
  try {
    return operation();
  } catch (...) {
    return failed;
  }
}

// Reads exactly count bytes into out; false (and a failed stream) when fewer arrive.
bool readExactly(PackageReader& reader, uint8_t* out, std::streamsize count) {
  reader.read(reinterpret_cast<char*>(out), count);
  return reader.gcount() == count;
}

// The whole payload of the current part as text. Grown as the bytes arrive, so that
// a length word that lies costs no more memory than the data actually present.
void readWholePart(PackageReader& reader, std::string& text) {
  text.clear();
  while (reader.partRemaining() != 0) {
    const size_t chunk = std::min<uint32_t>(reader.partRemaining(), 65536);
    const size_t old = text.size();
    text.resize(old + chunk);
    reader.read(text.data() + old, static_cast<std::streamsize>(chunk));
    const auto got = static_cast<size_t>(reader.gcount());
    if (got != chunk) {
      text.resize(old + got);
      return;
    }
  }
}

}  // namespace

PartStreamBuffer::PartStreamBuffer(std::streambuf* source, bool digesting, std::streambuf* tee)
    : source_(source), tee_(tee), currentDigest_(&sha1_), digesting_(digesting) {
  if (tee_ != nullptr) teeBlock_.reserve(kTeeBlock);
}

PartStreamBuffer::~PartStreamBuffer() { flushTee(); }

void PartStreamBuffer::finishDigest() { currentDigest_->finish(digestValue_); }

std::streamsize PartStreamBuffer::sourceRead(char* out, std::streamsize count) {
  return guarded([&] { return source_->sgetn(out, count); }, std::streamsize{0});
}

void PartStreamBuffer::copyToTee(const char* bytes, std::streamsize count) {
  if (tee_ == nullptr || count <= 0) return;
  const auto size = static_cast<size_t>(count);
  if (size >= kTeeGathered) {
    if (teeBlock_.size() + size > kTeeBlock) flushTee();
    if (size < kTeeBlock) {
      teeBlock_.insert(teeBlock_.end(), bytes, bytes + size);
      return;
    }
  } else {
    flushTee();
  }
  const std::streamsize written =
      guarded([&] { return tee_->sputn(bytes, count); }, std::streamsize{0});
  if (written != count) teeFailed_ = true;
}

void PartStreamBuffer::flushTee() {
  if (teeBlock_.empty()) return;
  const auto count = static_cast<std::streamsize>(teeBlock_.size());
  const std::streamsize written =
      guarded([&] { return tee_->sputn(teeBlock_.data(), count); }, std::streamsize{0});
  if (written != count) teeFailed_ = true;
  teeBlock_.clear();
}

void PartStreamBuffer::account(const char* bytes, std::streamsize count) {
  if (count <= 0) return;
  copyToTee(bytes, count);
  if (digesting_) currentDigest_->update(bytes, static_cast<size_t>(count));
}

std::streamsize PartStreamBuffer::take(char* out, std::streamsize count, bool digest) {
  count = std::min<std::streamsize>(count, remaining_);
  if (count <= 0) return 0;
  const std::streamsize got = sourceRead(out, count);
  if (got <= 0) return 0;
  remaining_ -= static_cast<uint32_t>(got);
  // Bytes given back earlier were digested and teed when first taken.
  const auto passed = static_cast<uint32_t>(std::min<std::streamsize>(skipCount_, got));
  skipCount_ -= passed;
  if (got > static_cast<std::streamsize>(passed)) {
    if (digest)
      account(out + passed, got - passed);
    else
      copyToTee(out + passed, got - passed);
  }
  return got;
}

std::streamsize PartStreamBuffer::consume(char* out, std::streamsize count) {
  return take(out, count, true);
}

bool PartStreamBuffer::discard(uint32_t count) {
  char chunk[kSkipChunk];
  while (count != 0) {
    const std::streamsize got = consume(chunk, std::min(count, kSkipChunk));
    if (got <= 0) return false;
    count -= static_cast<uint32_t>(got);
  }
  return true;
}

std::streamsize PartStreamBuffer::readUndigested(char* out, std::streamsize count) {
  return take(out, count, false);
}

bool PartStreamBuffer::seekSource(int64_t delta) {
  return guarded([&] { return source_->pubseekoff(delta, std::ios_base::cur, std::ios_base::in); },
                 kBadPosition) != kBadPosition;
}

bool PartStreamBuffer::skipRest() {
  if (remaining_ == 0) return true;
  // Only a reader that neither digests nor tees may jump over bytes.
  if (!digesting_ && tee_ == nullptr && seekSource(remaining_)) {
    remaining_ = 0;
    return true;
  }
  return discard(remaining_);
}

bool PartStreamBuffer::positionAt(uint32_t p) {
  const uint32_t wantedRemaining = partLength_ - p;
  if (wantedRemaining == remaining_) return true;
  if (!digesting_ && tee_ == nullptr &&
      seekSource(static_cast<int64_t>(remaining_) - wantedRemaining)) {
    remaining_ = wantedRemaining;
    return true;
  }
  if (wantedRemaining > remaining_) return false;  // bytes already digested or teed
  return discard(remaining_ - wantedRemaining);
}

bool PartStreamBuffer::readFileHeader(uint8_t* out) {
  if (source_ == nullptr) return false;
  if (sourceRead(reinterpret_cast<char*>(out), kFileHeaderSize) !=
      static_cast<std::streamsize>(kFileHeaderSize))
    return false;
  // The file header is copied but never digested.
  copyToTee(reinterpret_cast<const char*>(out), kFileHeaderSize);
  partStart_ = kFileHeaderSize;
  return true;
}

bool PartStreamBuffer::readPartHeader(uint16_t& type) {
  if (source_ == nullptr) return false;
  uint8_t header[kPartHeaderSize];
  if (sourceRead(reinterpret_cast<char*>(header), kPartHeaderSize) !=
      static_cast<std::streamsize>(kPartHeaderSize))
    return false;
  type = readLe16(header);
  const uint32_t length = readLe32(header + 2);
  // Offsets are 32-bit: a part reaching beyond them cannot belong to a package file.
  const uint64_t payloadStart = uint64_t{partStart_} + partLength_ + kPartHeaderSize;
  if (payloadStart + length > std::numeric_limits<uint32_t>::max()) return false;

  copyToTee(reinterpret_cast<const char*>(header), kPartHeaderSize);
  if (digesting_) {
    // A package's signature covers everything from its own header part on, so each
    // type-1 header closes the previous package's digest.
    if (type == DigestSwitchPart)
      currentDigest_ = &sha256_;
    else if (type == PackageHeaderPart)
      finishDigest();
    currentDigest_->update(header, kPartHeaderSize);
  }
  partStart_ = static_cast<uint32_t>(payloadStart);
  partLength_ = remaining_ = length;
  return true;
}

PartStreamBuffer::int_type PartStreamBuffer::underflow() {
  if (remaining_ == 0) return traits_type::eof();
  return guarded([&] { return source_->sgetc(); }, traits_type::eof());
}

PartStreamBuffer::int_type PartStreamBuffer::uflow() {
  if (remaining_ == 0) return traits_type::eof();
  const int_type c = guarded([&] { return source_->sbumpc(); }, traits_type::eof());
  if (traits_type::eq_int_type(c, traits_type::eof())) return c;
  --remaining_;
  if (skipCount_ != 0) {
    --skipCount_;
  } else {
    const char byte = traits_type::to_char_type(c);
    account(&byte, 1);
  }
  return c;
}

std::streamsize PartStreamBuffer::xsgetn(char* out, std::streamsize count) {
  return consume(out, count);
}

PartStreamBuffer::int_type PartStreamBuffer::pbackfail(int_type c) {
  if (remaining_ == partLength_) return traits_type::eof();
  const int_type back = guarded(
      [&] {
        return traits_type::eq_int_type(c, traits_type::eof())
                   ? source_->sungetc()
                   : source_->sputbackc(traits_type::to_char_type(c));
      },
      traits_type::eof());
  if (traits_type::eq_int_type(back, traits_type::eof())) return back;
  if (digesting_ || tee_ != nullptr) ++skipCount_;
  ++remaining_;
  return back;
}

std::streamsize PartStreamBuffer::showmanyc() {
  if (remaining_ == 0) return -1;
  const std::streamsize available =
      guarded([&] { return source_->in_avail(); }, std::streamsize{0});
  return std::min<std::streamsize>(remaining_, available);
}

PartStreamBuffer::pos_type PartStreamBuffer::seekoff(off_type offset,
                                                     std::ios_base::seekdir direction,
                                                     std::ios_base::openmode) {
  const off_type here = static_cast<off_type>(partLength_) - remaining_;
  off_type target;
  if (direction == std::ios_base::beg) {
    target = offset;
  } else if (direction == std::ios_base::cur) {
    if (offset < -here || offset > static_cast<off_type>(partLength_) - here) return kBadPosition;
    target = here + offset;
  } else {
    return kBadPosition;
  }
  if (target < 0 || target > static_cast<off_type>(partLength_)) return kBadPosition;
  if (!positionAt(static_cast<uint32_t>(target))) return kBadPosition;
  return pos_type(target);
}

PartStreamBuffer::pos_type PartStreamBuffer::seekpos(pos_type position,
                                                     std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

PackageReader::PackageReader(std::istream& source, bool digesting, std::streambuf* tee)
    : std::istream(nullptr),
      parts_(std::make_unique<PartStreamBuffer>(source.rdbuf(), digesting, tee)) {
  rdbuf(parts_.get());
  uint8_t header[kFileHeaderSize];
  if (parts_->readFileHeader(header)) {
    magic = readLe32(header);
    declaredSize = readLe32(header + 4) + static_cast<uint32_t>(kFileHeaderSize);
  }
  if (magic != kPackageMagic && magic != kAltPackageMagic) setstate(std::ios_base::badbit);
}

PackageReader::~PackageReader() = default;

void PackageReader::wantPart(uint32_t type) { wanted_.push_back(type); }

int PackageReader::stop() {
  parts_->flushTee();
  currentPart = -1;
  finished_ = true;
  setstate(std::ios_base::eofbit | std::ios_base::failbit);
  return -1;
}

int PackageReader::nextPart() {
  if (finished_ || fail()) return stop();
  clear();
  for (;;) {
    if (!parts_->skipRest()) return stop();
    uint16_t type = 0;
    if (!parts_->readPartHeader(type)) return stop();
    currentPart = type;
    if (std::find(wanted_.begin(), wanted_.end(), type) != wanted_.end()) return type;
  }
}

bool readEntryTable(PackageReader& reader, std::vector<DependencyEntry>& entries) {
  uint8_t count[2];
  if (!readExactly(reader, count, 2)) return false;
  for (uint16_t i = 0, n = readLe16(count); i < n; ++i) {
    uint8_t entry[kEntrySize];
    if (!readExactly(reader, entry, kEntrySize)) return false;
    DependencyEntry parsed;
    parsed.name = readNameField(entry);
    parsed.minVersion = readLe32(entry + 16);
    parsed.maxVersion = readLe32(entry + 24);
    parsed.priority = static_cast<int32_t>(readLe32(entry + 28));
    entries.push_back(std::move(parsed));
  }
  return true;
}

bool readHeader(Package& package, PackageReader& reader) {
  if (reader.currentPart != PackageHeaderPart && reader.currentPart != BundleHeaderPart)
    return false;
  package.isBundle = reader.currentPart == BundleHeaderPart;

  uint8_t record[kHeaderRecordSize];
  if (!readExactly(reader, record, kHeaderRecordSize)) return false;
  package.name = readNameField(record);
  package.version = readLe32(record + 16);
  package.buildTime = readLe32(record + 20);
  // Older header records end before the flags word.
  uint8_t flags[4];
  if (readExactly(reader, flags, 4)) {
    package.flags = readLe32(flags);
  } else {
    package.flags = 0;
    reader.clear();
  }
  reader.nextPart();

  // Metadata parts come in this fixed order; the first one out of order ends them.
  auto readText = [&reader](int type, std::string& text) {
    if (reader.currentPart != type) return false;
    readWholePart(reader, text);
    reader.nextPart();
    return true;
  };
  readText(Text24Part, package.part24Text);
  if (!readText(ArchitecturePart, package.architecture)) package.architecture = "i386";
  readText(Text2Part, package.part2Text);
  readText(NotePart, package.note);
  const std::pair<int, std::vector<DependencyEntry>*> tables[] = {
      {DependenciesPart, &package.dependencies},
      {ProvidesPart, &package.provides},
      {ConflictsPart, &package.conflicts},
  };
  for (const auto& [type, entries] : tables) {
    if (reader.currentPart != type) continue;
    if (!readEntryTable(reader, *entries)) return false;
    reader.nextPart();
  }
  if (reader.currentPart == OpaquePayloadPart) package.hasOpaquePayload = true;
  return true;
}
