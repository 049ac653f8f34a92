#include "pkgtool/package_report.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>

#include "pkgfile/package_reader.h"
#include "pkgtool/command_line.h"
#include "verify/signature.h"

namespace {

constexpr uint32_t kLongestShownTarget = 4096;

// The entries of the file container part a reader stands on, inflated as they are
// read. Unlike the installer's inflating stream it tells why the data ended: only a
// zlib stream that reaches its end, with its check value and nothing after it, is
// whole. Names and data are passed on or dropped entry by entry, never gathered.
class ContainerListing {
 public:
  explicit ContainerListing(std::streambuf& part) : part_(part) {
    initialised_ = inflateInit(&zstream_) == Z_OK;
    state_ = initialised_ ? Running : Damaged;
  }
  ~ContainerListing() {
    if (initialised_) inflateEnd(&zstream_);
  }
  ContainerListing(const ContainerListing&) = delete;
  ContainerListing& operator=(const ContainerListing&) = delete;

  enum Step { Entry, End, Broken };

  // The next entry into file; End after the last one, Broken when the container is
  // damaged or cut inside an entry.
  Step next(ContainerFileInfo& file) {
    uint8_t header[kContainerEntryHeaderSize];
    const size_t got = read(reinterpret_cast<char*>(header), sizeof header);
    if (got == 0 && state_ == Ended) return End;
    if (got != sizeof header) return Broken;
    const ContainerEntryHeader entry = decodeContainerEntryHeader(header);
    file.mode = entry.mode;
    file.passOver = entry.passOver;
    file.size = entry.dataLength;
    file.name.resize(entry.nameLength);
    if (read(file.name.data(), entry.nameLength) != entry.nameLength) return Broken;
    file.linkTarget.clear();
    if (file.isSymlink() && file.size <= kLongestShownTarget) {
      file.linkTarget.resize(file.size);
      if (read(file.linkTarget.data(), file.size) != file.size) return Broken;
    } else if (!skip(file.size)) {
      return Broken;
    }
    return Entry;
  }

 private:
  enum State { Running, Ended, Damaged };

  // Inflates up to count bytes into out; fewer only when the stream has ended or is
  // damaged (state_ says which).
  size_t read(char* out, size_t count) {
    zstream_.next_out = reinterpret_cast<Bytef*>(out);
    zstream_.avail_out = static_cast<uInt>(count);
    while (zstream_.avail_out != 0 && state_ == Running) {
      if (zstream_.avail_in == 0) {
        const std::streamsize got = part_.sgetn(input_, sizeof input_);
        if (got <= 0) {
          state_ = Damaged;  // the part ends before the stream does
          break;
        }
        zstream_.next_in = reinterpret_cast<Bytef*>(input_);
        zstream_.avail_in = static_cast<uInt>(got);
      }
      const int result = inflate(&zstream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        // Anything after the check value is no part of the container.
        state_ = zstream_.avail_in == 0 && part_.sgetc() == std::streambuf::traits_type::eof()
                     ? Ended
                     : Damaged;
      } else if (result != Z_OK && !(result == Z_BUF_ERROR && zstream_.avail_in == 0)) {
        state_ = Damaged;  // Z_BUF_ERROR with input left would mean no progress at all
      }
    }
    return count - zstream_.avail_out;
  }

  bool skip(uint32_t count) {
    for (uint32_t left = count; left != 0;) {
      const uint32_t step = std::min<uint32_t>(left, sizeof scratch_);
      if (read(scratch_, step) != step) return false;
      left -= step;
    }
    return true;
  }

  std::streambuf& part_;
  z_stream zstream_{};
  bool initialised_ = false;
  State state_ = Running;
  char input_[16384];
  char scratch_[65536];
};

// The path of one read through the packages of a file. Only the package being read
// and the bundle header are held.
class PackageWalk {
 public:
  PackageWalk(const FileFrame& frame, const WalkOptions& options, PackageObserver& observer)
      : frame_(frame), options_(options), observer_(observer) {}

  void run(PackageReader& reader) {
    for (const uint32_t type : {BundleHeaderPart, PackageHeaderPart, Text24Part,
                                ArchitecturePart, Text2Part, NotePart, DependenciesPart,
                                ProvidesPart, ConflictsPart, OpaquePayloadPart,
                                BundleEntryTablePart, FileContainerPart, SignaturePart})
      reader.wantPart(type);
    int type = reader.nextPart();
    while (type != -1) {
      if (type == PackageHeaderPart ||
          (type == BundleHeaderPart && !inBundle_ && packages_ == 0)) {
        readHeaderPart(reader, type);
        type = reader.currentPart;
        continue;
      }
      if (current_ != nullptr) readPart(reader, type);
      type = reader.nextPart();
    }
    endPackage();
    announceBundle();
  }

 private:
  void readHeaderPart(PackageReader& reader, int type) {
    endPackage();
    if (type == BundleHeaderPart) {
      inBundle_ = true;
      current_ = &bundle_;
    } else {
      announceBundle();
      package_ = PackageInfo();
      report_ = PackageSignatureReport();
      current_ = &package_;
      ++packages_;
    }
    if (!readHeader(current_->meta, reader)) {
      observer_.problem("a package header or entry table is cut short");
      // Whatever follows is still read: the digest runs on regardless.
      reader.clear();
      reader.nextPart();
    }
    if (reader.currentPart == OpaquePayloadPart) current_->payloadLength = reader.partRemaining();
    if (current_ == &package_) {
      report_.name = package_.meta.name;
      observer_.packageBegins(package_);
    }
  }

  void readPart(PackageReader& reader, int type) {
    if (type == OpaquePayloadPart) {
      current_->payloadLength = reader.partRemaining();
    } else if (type == BundleEntryTablePart && current_ == &bundle_) {
      if (!readEntryTable(reader, bundleTable_))
        observer_.problem("the bundle's entry table is cut short");
    } else if (type == FileContainerPart && current_ == &package_) {
      if (!package_.hasContainer) observer_.containerBegins();
      package_.hasContainer = true;
      if (options_.listEntries) listContainer(reader);
    } else if (type == SignaturePart && !current_->hasSignature) {
      current_->hasSignature = true;
      current_->signatureLength = reader.partRemaining();
      if (current_ == &package_ && options_.keys != nullptr) checkSignature(reader);
    }
  }

  void listContainer(PackageReader& reader) {
    if (package_.containerDamaged || package_.entriesSuspicious) return;
    ContainerListing listing(*reader.rdbuf());
    ContainerFileInfo file;
    for (;;) {
      const ContainerListing::Step step = listing.next(file);
      if (step == ContainerListing::End) return;
      if (step == ContainerListing::Broken) {
        package_.containerDamaged = true;
        observer_.problem("the file container of " + package_.meta.name + " is damaged");
        return;
      }
      if (package_.entries == kMostListedEntries) {
        package_.entriesSuspicious = true;
        observer_.problem("the file container of " + package_.meta.name + " holds more than " +
                          std::to_string(kMostListedEntries) + " entries");
        return;
      }
      ++package_.entries;
      observer_.entry(file);
    }
  }

  // The installer's own check of each form; a level accepts what verifySignature
  // would: EdDSA at level 2, EdDSA or else the older scheme at level 1.
  void checkSignature(PackageReader& reader) {
    const uint64_t offset = uint64_t{reader.parts().partStart()} - kPartHeaderSize;
    report_.sha256 = frame_.firstDigestSwitch < offset;
    report_.hasSignature = true;
    report_.signatureLength = reader.partRemaining();
    SignatureCheck forms;
    if (!checkSignatureForms(reader, options_.keys->legacy.data(), options_.keys->eddsa.data(),
                             LegacyCheck::Always, forms))
      return;
    report_.hasLegacy = forms.hasLegacy;
    report_.hasEddsa = forms.hasEddsa;
    report_.legacyValid = forms.legacyValid;
    report_.eddsaValid = forms.eddsaValid;
    report_.acceptedLevel1 = forms.eddsaValid || forms.legacyValid;
    report_.acceptedLevel2 = forms.eddsaValid;
  }

  void endPackage() {
    if (current_ != &package_) return;
    observer_.packageEnds(package_, options_.keys != nullptr ? &report_ : nullptr);
    current_ = nullptr;
  }

  // The bundle header is handed on once its own parts are read: at its first member,
  // or at the end of a bundle without members.
  void announceBundle() {
    if (!inBundle_ || announced_) return;
    announced_ = true;
    observer_.bundle(bundle_, bundleTable_);
  }

  const FileFrame& frame_;
  const WalkOptions& options_;
  PackageObserver& observer_;
  PackageInfo* current_ = nullptr;  // whose parts follow: &bundle_, &package_ or none
  PackageInfo bundle_;
  std::vector<DependencyEntry> bundleTable_;
  bool inBundle_ = false;
  bool announced_ = false;
  PackageInfo package_;
  PackageSignatureReport report_;
  uint64_t packages_ = 0;
};

// Keeps the parts it is given.
class PartCollector : public PackageObserver {
 public:
  explicit PartCollector(std::vector<PartInfo>& parts) : parts_(parts) {}
  void part(const PartInfo& part) override { parts_.push_back(part); }

 private:
  std::vector<PartInfo>& parts_;
};

}  // namespace

MemorySource::MemorySource(const std::string& bytes) {
  char* begin = const_cast<char*>(bytes.data());
  setg(begin, begin, begin + bytes.size());
}

MemorySource::pos_type MemorySource::seekoff(off_type offset, std::ios_base::seekdir direction,
                                             std::ios_base::openmode which) {
  off_type base = 0;
  if (direction == std::ios_base::cur)
    base = gptr() - eback();
  else if (direction == std::ios_base::end)
    base = egptr() - eback();
  return seekpos(pos_type(base + offset), which);
}

MemorySource::pos_type MemorySource::seekpos(pos_type position, std::ios_base::openmode which) {
  const off_type target = position;
  if (!(which & std::ios_base::in) || target < 0 || target > egptr() - eback())
    return pos_type(off_type(-1));
  setg(eback(), eback() + target, egptr());
  return position;
}

bool readFrame(std::streambuf& source, uint64_t size, FileFrame& frame,
               PackageObserver& observer) {
  frame = FileFrame();
  frame.size = size;
  source.pubseekpos(0, std::ios_base::in);
  std::istream in(&source);
  PackageReader reader(in, false);
  if (reader.magic != kPackageMagic && reader.magic != kAltPackageMagic) return false;
  frame.magic = reader.magic;
  frame.declaredSize = reader.declaredSize;
  observer.frameBegins(frame);
  for (uint32_t type = 0; type <= UINT16_MAX; ++type) reader.wantPart(type);

  bool headerSeen = false;
  // Whole when the last part ends exactly at the end of the data: a cut part header
  // ends the list short of it, a cut payload runs past it.
  uint64_t end = kFileHeaderSize;
  while (reader.nextPart() != -1) {
    const PartInfo part{static_cast<uint16_t>(reader.currentPart),
                        static_cast<uint32_t>(reader.parts().partStart() - kPartHeaderSize),
                        reader.parts().partLength()};
    if (part.type == DigestSwitchPart)
      frame.firstDigestSwitch = std::min<uint64_t>(frame.firstDigestSwitch, part.offset);
    if (!headerSeen && (part.type == PackageHeaderPart || part.type == BundleHeaderPart)) {
      headerSeen = true;
      frame.isBundle = part.type == BundleHeaderPart;
    }
    end = uint64_t{part.offset} + kPartHeaderSize + part.length;
    observer.part(part);
  }
  frame.whole = end == size;
  if (!frame.whole) observer.problem("the last part runs past the end of the file");
  if (frame.declaredSize != size)
    observer.problem("the header declares " + std::to_string(frame.declaredSize) +
                     " bytes, the file has " + std::to_string(size));
  return true;
}

std::unique_ptr<FileSource> openPackageFile(const std::string& path, FileFrame& frame) {
  std::unique_ptr<FileSource> source = openFileSource(path);
  if (source == nullptr) {
    complain("cannot read %s: %s", path.c_str(), strerror(errno));
    return nullptr;
  }
  PackageObserver ignored;
  if (!readFrame(*source, source->size(), frame, ignored)) {
    complain("%s is not a package file", path.c_str());
    return nullptr;
  }
  return source;
}

void readPackages(std::streambuf& source, const FileFrame& frame, const WalkOptions& options,
                  PackageObserver& observer) {
  source.pubseekpos(0, std::ios_base::in);
  std::istream in(&source);
  PackageReader reader(in, true);
  PackageWalk(frame, options, observer).run(reader);
}

bool listParts(const std::string& bytes, std::vector<PartInfo>& parts) {
  MemorySource source(bytes);
  FileFrame frame;
  PartCollector collector(parts);
  return readFrame(source, bytes.size(), frame, collector) && frame.whole;
}
