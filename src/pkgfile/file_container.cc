#include "pkgfile/file_container.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "changes/change_set.h"
#include "model/safe_names.h"
#include "pdb/repository.h"
#include "pkgfile/package_format.h"
#include "pkgfile/package_reader.h"

namespace {

constexpr size_t kCopyChunk = 16384;  // file data is inflated in steps of this size
constexpr size_t kWriteBlock = 16 * kCopyChunk;  // and written in blocks of up to this size
constexpr size_t kSkipChunk = 1024;   // passed-over data is inflated and dropped in these

const std::streambuf::pos_type kBadPosition{std::streambuf::off_type(-1)};

// Whether a file may be prepared for target: the file system must be able to name
// it, or the move into place fails after the package counts as installed (and a
// 64 KiB path makes the directories of the move recurse through gigabytes); and the
// nearest directory of it that exists must lie inside the flash, or a symbolic link
// in the tree would carry the file, and its temporary file before it, elsewhere.
// errno tells why not.
bool mayCreate(const std::string& target, const std::string& flashRoot) {
  if (target.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return false;
  }
  for (size_t start = 0; start < target.size();) {
    const size_t end = std::min(target.find('/', start), target.size());
    if (end - start > NAME_MAX) {
      errno = ENAMETOOLONG;
      return false;
    }
    start = end + 1;
  }
  std::string directory = parentDirectory(target);
  struct stat info;
  while (lstat(directory.c_str(), &info) != 0 && directory != "/")
    directory = parentDirectory(directory);
  char resolved[PATH_MAX];
  if (realpath(directory.c_str(), resolved) == nullptr) return false;
  const std::string_view inside(resolved);
  if (inside == flashRoot || (inside.starts_with(flashRoot) && inside[flashRoot.size()] == '/'))
    return true;
  errno = EPERM;
  return false;
}

}  // namespace

InflatingStreamBuffer::InflatingStreamBuffer(std::streambuf* source) : source_(source) {
  std::memset(&zstream_, 0, sizeof zstream_);
  // The version text is the one the installer was first built against; zlib checks
  // only its major number and the structure size.
  initialised_ = inflateInit_(&zstream_, "1.2.3", static_cast<int>(sizeof(z_stream))) == Z_OK;
  setg(outBuffer_, outBuffer_, outBuffer_);
}

InflatingStreamBuffer::~InflatingStreamBuffer() {
  if (initialised_) inflateEnd(&zstream_);
}

size_t InflatingStreamBuffer::inflateInto(char* destination, size_t room) {
  if (!initialised_) return 0;
  for (;;) {
    if (zstream_.avail_in == 0) {
      const std::streamsize got = source_->sgetn(inBuffer_, sizeof inBuffer_);
      if (got <= 0) return 0;  // the container part has ended
      zstream_.next_in = reinterpret_cast<Bytef*>(inBuffer_);
      zstream_.avail_in = static_cast<uInt>(got);
    }
    zstream_.next_out = reinterpret_cast<Bytef*>(destination);
    zstream_.avail_out = static_cast<uInt>(room);
    const int result = inflate(&zstream_, Z_PARTIAL_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) return 0;
    const size_t produced = room - zstream_.avail_out;
    if (produced != 0) {
      total_ += static_cast<uint32_t>(produced);
      return produced;
    }
    // A step may only take input (a block header, the stream's trailer). Z_OK means
    // progress was made, so asking again cannot loop for ever.
    if (result == Z_STREAM_END) return 0;
  }
}

InflatingStreamBuffer::int_type InflatingStreamBuffer::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  const size_t produced = inflateInto(outBuffer_, sizeof outBuffer_);
  if (produced == 0) return traits_type::eof();
  setg(outBuffer_, outBuffer_, outBuffer_ + produced);
  return traits_type::to_int_type(*gptr());
}

std::streamsize InflatingStreamBuffer::xsgetn(char* out, std::streamsize count) {
  std::streamsize done = 0;
  while (done < count) {
    const std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      const std::streamsize step = std::min(buffered, count - done);
      std::memcpy(out + done, gptr(), static_cast<size_t>(step));
      gbump(static_cast<int>(step));
      done += step;
      continue;
    }
    // A large read is inflated straight into the caller's memory.
    if (count - done >= static_cast<std::streamsize>(sizeof outBuffer_)) {
      const size_t produced = inflateInto(out + done, static_cast<size_t>(count - done));
      if (produced == 0) break;
      done += static_cast<std::streamsize>(produced);
    } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
      break;
    }
  }
  return done;
}

InflatingStreamBuffer::pos_type InflatingStreamBuffer::seekoff(off_type offset,
                                                               std::ios_base::seekdir direction,
                                                               std::ios_base::openmode) {
  if (direction != std::ios_base::cur || offset < 0) return kBadPosition;
  char chunk[kSkipChunk];
  for (off_type left = offset; left > 0;) {
    const auto want = static_cast<std::streamsize>(std::min<off_type>(left, kSkipChunk));
    if (sgetn(chunk, want) != want) return kBadPosition;
    left -= want;
  }
  return pos_type(off_type(total_) - (egptr() - gptr()));
}

bool extractFiles(InstalledPackage& package, ChangeSet& changes, PackageReader& reader) {
  Repository& repository = Repository::instance();
  char flash[PATH_MAX];
  const std::string flashRoot = realpath("/flash", flash) != nullptr ? flash : "/flash";
  auto inflating = std::make_unique<InflatingStreamBuffer>(&reader.parts());
  std::vector<char> data(kWriteBlock);
  for (;;) {
    uint8_t header[kContainerEntryHeaderSize];
    if (inflating->sgetn(reinterpret_cast<char*>(header), sizeof header) !=
        static_cast<std::streamsize>(sizeof header))
      return true;  // the container ends where no whole entry header follows
    const ContainerEntryHeader entry = decodeContainerEntryHeader(header);

    std::string name(entry.nameLength, '\0');
    if (inflating->sgetn(name.data(), entry.nameLength) != entry.nameLength) {
      repository.reportBrokenPackage(package);
      return false;
    }
    // A name that climbs out of the flash root, or that the one-path-a-line "files"
    // list cannot hold, makes the package broken whatever the entry is.
    if (!isSafeContainerName(name)) {
      repository.reportBrokenPackage(package);
      return false;
    }
    std::string target = "/flash";
    if (package.disabled) target += "/x/" + package.name;
    if (name.empty() || name[0] != '/') target += '/';
    target += name;

    if (!entry.createsFile()) {
      // A failed skip leaves the inflated stream at its end, so the next header read
      // ends the container.
      inflating->pubseekoff(entry.dataLength, std::ios_base::cur, std::ios_base::in);
      continue;
    }
    // A file must land on a path of its own: an empty, "." or doubled-slash
    // component would aim the move at a directory, and removing the package later
    // would pass such a path over.
    if (!isInstalledFilePath(target)) {
      repository.reportBrokenPackage(package);
      return false;
    }
    if (!mayCreate(target, flashRoot)) {
      repository.reportCreateFailure(package, name);
      return false;
    }

    FileDescriptor out = changes.createFileDescriptor(target, entry.dataLength, entry.mode);
    if (!out.valid()) {
      repository.reportCreateFailure(package, name);
      return false;
    }
    package.files.insert(target);
    // Steps are gathered into blocks so that a large file takes few writes; the
    // inflated stream is asked for the same steps as ever.
    size_t gathered = 0;
    for (uint32_t left = entry.dataLength; left != 0;) {
      const auto chunk = static_cast<std::streamsize>(std::min<size_t>(left, kCopyChunk));
      if (inflating->sgetn(data.data() + gathered, chunk) != chunk) {
        // A write of the steps gathered so far that fails is reported first, as it
        // would have been had each step been written at once.
        if (!writeAll(out.get(), data.data(), gathered))
          repository.reportCreateFailure(package, name);
        else
          repository.reportBrokenPackage(package);
        return false;
      }
      gathered += static_cast<size_t>(chunk);
      left -= static_cast<uint32_t>(chunk);
      if (left == 0 || gathered + kCopyChunk > data.size()) {
        if (!writeAll(out.get(), data.data(), gathered)) {
          repository.reportCreateFailure(package, name);
          return false;
        }
        gathered = 0;
      }
    }
    // Start writing the data back now, so that the sync before the renames finds
    // little left to wait for.
    sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    if (!out.close()) {
      repository.reportCreateFailure(package, name);
      return false;
    }
    progressBar(package, reader);
  }
}

void progressBar(const InstalledPackage& package, PackageReader& reader) {
  std::string line = "installing ";
  if (package.disabled && package.bundle.name.empty()) line += " (disabled) ";
  line += progressName(package);
  line += " [";
  const size_t width = line.size() < 76 ? 76 - line.size() : 0;

  const PartStreamBuffer& parts = reader.parts();
  const uint64_t position = uint64_t{parts.partStart()} + (parts.partLength() - parts.remaining());
  // A declared size of 0 comes from a length word of 0xFFFFFFF8: 2^32 bytes. A stream
  // whose header understates its length shows a full bar once it has passed it.
  const uint64_t size = reader.declaredSize != 0 ? reader.declaredSize : uint64_t{1} << 32;
  const uint64_t filled = std::min<uint64_t>(width, position * width / size);

  line.append(filled, '#');
  line.append(width - filled, ' ');
  line += ']';
  Repository::instance().setStatus(line);
}
