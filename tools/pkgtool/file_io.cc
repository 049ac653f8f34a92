#include "pkgtool/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

int openRegularFile(const std::string& path) {
  // Without O_NONBLOCK the open of a FIFO waits until something writes to it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info;
  int code = 0;
  if (fstat(fd, &info) != 0)
    code = errno;
  else if (!S_ISREG(info.st_mode))
    code = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
  else if (fcntl(fd, F_SETFL, 0) != 0)
    code = errno;
  if (code == 0) return fd;
  ::close(fd);
  errno = code;
  return -1;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
  FileDescriptor file(openRegularFile(path));
  if (!file.valid()) return false;
  struct stat info;
  if (fstat(file.get(), &info) != 0) return false;
  bytes.clear();
  bytes.reserve(static_cast<size_t>(info.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    bytes.append(chunk, static_cast<size_t>(got));
  }
}

bool writeWholeFile(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".XXXXXX";
  FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
  if (!file.valid()) return false;
  size_t written = 0;
  bool ok = fchmod(file.get(), 0644) == 0;
  while (ok && written < bytes.size()) {
    const ssize_t put = ::write(file.get(), bytes.data() + written, bytes.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      ok = false;
      break;
    }
    written += static_cast<size_t>(put);
  }
  if (ok) ok = file.close();
  if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    const int code = errno;
    ::unlink(temporary.c_str());
    errno = code;
  }
  return ok;
}

FileSource::int_type FileSource::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  const uint64_t next = bufferStart_ + static_cast<uint64_t>(egptr() - eback());
  if (next >= size_) return traits_type::eof();
  ssize_t got;
  do {
    got = ::pread(file_.get(), buffer_, std::min<uint64_t>(sizeof buffer_, size_ - next),
                  static_cast<off_t>(next));
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return traits_type::eof();
  bufferStart_ = next;
  setg(buffer_, buffer_, buffer_ + got);
  return traits_type::to_int_type(*gptr());
}

FileSource::pos_type FileSource::seekoff(off_type offset, std::ios_base::seekdir direction,
                                         std::ios_base::openmode which) {
  off_type base = 0;
  if (direction == std::ios_base::cur)
    base = static_cast<off_type>(bufferStart_) + (gptr() - eback());
  else if (direction == std::ios_base::end)
    base = static_cast<off_type>(size_);
  return seekpos(pos_type(base + offset), which);
}

FileSource::pos_type FileSource::seekpos(pos_type position, std::ios_base::openmode which) {
  const off_type target = position;
  if (!(which & std::ios_base::in) || target < 0 || static_cast<uint64_t>(target) > size_)
    return pos_type(off_type(-1));
  const auto inBuffer = static_cast<uint64_t>(target) - bufferStart_;
  if (static_cast<uint64_t>(target) >= bufferStart_ &&
      inBuffer <= static_cast<uint64_t>(egptr() - eback())) {
    setg(eback(), eback() + inBuffer, egptr());
  } else {
    // The next read starts there.
    bufferStart_ = static_cast<uint64_t>(target);
    setg(buffer_, buffer_, buffer_);
  }
  return position;
}

std::unique_ptr<FileSource> openFileSource(const std::string& path) {
  const int fd = openRegularFile(path);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0) {
    const int code = errno;
    ::close(fd);
    errno = code;
    return nullptr;
  }
  return std::make_unique<FileSource>(fd, static_cast<uint64_t>(info.st_size));
}
