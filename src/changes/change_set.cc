#include "changes/change_set.h"

#include <libgen.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

void ChangeSet::put(const std::string& path, ChangeOp op, const std::string& argument) {
  auto existing = entries_.find(path);
  if (existing == entries_.end()) {
    entries_.emplace(path, Change{op, argument});
    return;
  }
  // The superseded temporary file is of no further use.
  if (existing->second.op == ChangeOp::MoveTemp) unlink(existing->second.argument.c_str());
  existing->second = Change{op, argument};
}

void ChangeSet::putMove(const std::string& path, const std::string& source) {
  put(path, ChangeOp::Move, source);
}

void ChangeSet::putSymlink(const std::string& path, const std::string& target) {
  put(path, ChangeOp::Symlink, target);
}

void ChangeSet::remove(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) {
    put(path, ChangeOp::Delete, "");
    return;
  }
  // Nothing to delete: a file this set prepared for the path is of no further use,
  // and nothing else would ever remove it.
  const auto existing = entries_.find(path);
  if (existing == entries_.end()) return;
  if (existing->second.op == ChangeOp::MoveTemp) unlink(existing->second.argument.c_str());
  entries_.erase(existing);
}

namespace {

// The directory for a temporary file of sizeHint bytes meant for path: the file
// system of the nearest existing ancestor when it has room for the content plus
// 64 KiB, else "/ram" ("/tmp" when "/ram" is missing and no size is known).
std::string temporaryDirectory(const std::string& path, uint32_t sizeHint) {
  std::string base = "/ram";
  if (sizeHint != 0) {
    std::string directory = parentDirectory(path);
    for (;;) {
      struct statfs info;
      if (statfs(directory.c_str(), &info) == 0) {
        // 64-bit, so that volumes with 4 GiB or more free are judged correctly.
        const uint64_t room = static_cast<uint64_t>(info.f_bfree) * info.f_bsize;
        if (static_cast<uint64_t>(sizeHint) + 65536 < room) base = directory;
        break;
      }
      if (directory == "/" || directory == ".") break;
      directory = parentDirectory(directory);
    }
  } else {
    struct stat info;
    if (stat("/ram", &info) != 0) base = "/tmp";
  }
  return base;
}

}  // namespace

FileDescriptor ChangeSet::createFileDescriptor(const std::string& path, uint32_t sizeHint,
                                               uint32_t mode) {
  std::string name = temporaryDirectory(path, sizeHint) + "/tmpXXXXXX";
  const int fd = mkstemp(name.data());
  if (fd >= 0) {
    if (mode != 0) fchmod(fd, mode);
    put(path, ChangeOp::MoveTemp, name);
  }
  return FileDescriptor(fd);
}

void ChangeSet::createFile(std::ofstream& out, const std::string& path, uint32_t sizeHint,
                           uint32_t mode) {
  FileDescriptor file = createFileDescriptor(path, sizeHint, mode);
  if (!file.valid()) {
    // Leave the stream closed and failed; the caller reports errno.
    const int code = errno;
    if (out.is_open()) out.close();
    out.setstate(std::ios::failbit);
    errno = code;
    return;
  }
  file.close();
  if (out.is_open()) out.close();
  out.clear();
  const std::string& name = entries_.find(path)->second.argument;
  out.open(name, std::ios::out | std::ios::trunc | std::ios::binary);
}

void ChangeSet::discard() {
  for (const auto& [path, change] : entries_)
    if (change.op == ChangeOp::MoveTemp) unlink(change.argument.c_str());
  entries_.clear();
}

void ChangeSet::erase(const std::string& path) {
  const auto existing = entries_.find(path);
  if (existing == entries_.end()) return;
  if (existing->second.op == ChangeOp::MoveTemp) unlink(existing->second.argument.c_str());
  entries_.erase(existing);
}

const Change* ChangeSet::find(const std::string& path) const {
  const auto found = entries_.find(path);
  return found == entries_.end() ? nullptr : &found->second;
}

std::string parentDirectory(const std::string& path) {
  std::string copy = path;
  while (!copy.empty() && copy.back() == '/') copy.pop_back();
  std::vector<char> buffer(copy.begin(), copy.end());
  buffer.push_back('\0');
  return dirname(buffer.data());
}

void makeDirectories(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return;
  makeDirectories(parentDirectory(path));
  mkdir(path.c_str(), 0777);
}

bool writeAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t written = write(fd, data + done, size - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<size_t>(written);
  }
  return true;
}
