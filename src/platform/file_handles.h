#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

// A file descriptor closed when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false (errno set) when close reports an error, such as a write
  // that failed late.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};
// An open directory stream, closed when it goes out of scope.
using DirectoryHandle = std::unique_ptr<DIR, DirectoryCloser>;

// Opens path for binary reading only when it is a regular file. Anything else
// counts as a file that cannot be opened: a FIFO would block the open for ever, and
// a directory opens but fails every read.
inline bool openRegularFile(std::ifstream& in, const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  in.open(path, std::ios::binary);
  return in.is_open();
}
