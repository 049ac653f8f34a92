#include "changes/apply.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/times.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string_view>

#include "changes/change_set.h"
#include "platform/file_handles.h"

uint32_t spinnerMark = 0;
uint32_t spinnerIndex = 0;

namespace {

constexpr size_t kCopyChunk = 16384;
constexpr char kSpinner[4] = {'|', '/', '-', '\\'};

// A temporary file that is unlinked unless it was kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!kept_) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  void keep() { kept_ = true; }

 private:
  std::string path_;
  bool kept_ = false;
};

// Turns the spinner at most once per 20 clock ticks on average. The index wraps
// on every turn, so that a mark that happens to come back to 0 cannot push it
// past the last character.
void advanceSpinner() {
  const uint32_t now = static_cast<uint32_t>(times(nullptr));
  if (spinnerMark == 0) {
    spinnerMark = now + 30000;
    std::cout << kSpinner[spinnerIndex % 4];
  } else if (now + 30000 - spinnerMark > 20) {
    spinnerMark += 20;
    std::cout << '\b' << kSpinner[spinnerIndex % 4];
  } else {
    return;
  }
  spinnerIndex = (spinnerIndex + 1) % 4;
  std::cout.flush();
}

// Copies the rest of from into to; false with errno set on a read or write error.
bool copyBytes(int from, int to, bool progress) {
  std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
  for (;;) {
    const ssize_t count = read(from, buffer.get(), kCopyChunk);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (count == 0) return true;
    if (!writeAll(to, buffer.get(), static_cast<size_t>(count))) return false;
    if (progress) advanceSpinner();
  }
}

// The deletion of a directory removes only its visible files: a name beginning with
// "." keeps the directory (and its subdirectories) in place.
void deletePath(const std::string& path) {
  if (unlink(path.c_str()) == 0 || errno != EISDIR) return;
  DirectoryHandle directory(opendir(path.c_str()));
  if (!directory) return;
  while (const dirent* entry = readdir(directory.get())) {
    if (entry->d_name[0] == '\0' || entry->d_name[0] == '.') continue;
    unlink((path + "/" + entry->d_name).c_str());
  }
  directory.reset();
  rmdir(path.c_str());
}

void makeSymlink(const std::string& path, const std::string& target) {
  makeDirectories(parentDirectory(path));
  unlink(path.c_str());
  if (symlink(target.c_str(), path.c_str()) != 0) perror("symlink");
}

void moveFile(const std::string& path, const std::string& source, bool progress) {
  makeDirectories(parentDirectory(path));
  if (rename(source.c_str(), path.c_str()) == 0) return;
  if (errno == EXDEV)
    copyFile(source, path, progress);
  else
    perror("rename");
}

}  // namespace

void apply(const ChangeSet& changes, bool progress) {
  for (const auto& [path, change] : changes.entries()) {
    if (change.op == ChangeOp::Delete)
      deletePath(path);
    else if (change.op == ChangeOp::Symlink)
      makeSymlink(path, change.argument);
  }
  // Every prepared file's data reaches the flash before a rename makes it live, so
  // that a power cut leaves each file wholly old or wholly new.
  sync();
  for (const auto* move : movesInApplyOrder(changes))
    moveFile(move->first, move->second.argument, progress);
  sync();
}

std::vector<const std::map<std::string, Change>::value_type*> movesInApplyOrder(
    const ChangeSet& changes) {
  static constexpr std::string_view kDatabase = "/flash/var/pdb/";
  std::vector<const std::map<std::string, Change>::value_type*> files, database;
  for (const auto& entry : changes.entries()) {
    if (entry.second.op != ChangeOp::Move && entry.second.op != ChangeOp::MoveTemp) continue;
    (std::string_view(entry.first).starts_with(kDatabase) ? database : files).push_back(&entry);
  }
  files.insert(files.end(), database.begin(), database.end());
  return files;
}

bool copyFile(const std::string& source, const std::string& destination, bool progress) {
  struct stat info;
  if (stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;

  FileDescriptor input(open(source.c_str(), O_RDONLY));
  if (!input.valid()) {
    perror("copy");
    return false;
  }
  // The copy goes to a temporary file beside the destination and replaces it only
  // when complete: a full disk must never leave a truncated file that looks installed.
  // Its name is fixed, so that a copy cut short by a power cut is overwritten and
  // renamed away by the copy of the next "--commit" instead of staying for good.
  // A name too long for that gets a unique temporary name instead.
  std::string name = destination + ".copying";
  int fd;
  if (name.size() - name.rfind('/') - 1 <= NAME_MAX) {
    unlink(name.c_str());
    fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  } else {
    name = parentDirectory(destination) + "/tmpXXXXXX";
    fd = mkstemp(name.data());
  }
  FileDescriptor output(fd);
  if (!output.valid()) {
    perror("copy");
    return false;
  }
  TemporaryFile temporary(name);
  // The mode a plain create of the destination would have had.
  const mode_t mask = umask(0);
  umask(mask);
  const mode_t mode = (info.st_mode & 07777) & ~mask;

  // The copy's data must be on the flash before the rename makes it live; the sync
  // after all moves would come too late for a power cut in between.
  if (fchmod(output.get(), mode) != 0 || !copyBytes(input.get(), output.get(), progress) ||
      fsync(output.get()) != 0 || !output.close() ||
      rename(temporary.path().c_str(), destination.c_str()) != 0) {
    perror("copy");
    return false;
  }
  temporary.keep();
  return true;
}
