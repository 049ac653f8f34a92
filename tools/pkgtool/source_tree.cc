#include "pkgtool/source_tree.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "pkgtool/command_line.h"
#include "pkgtool/file_io.h"
#include "platform/file_handles.h"

namespace {

// Appends the entries below top + "/" + relative (relative is "" for the top).
bool collectDirectory(const std::string& top, const std::string& relative,
                      std::vector<ContainerEntry>& entries) {
  const std::string path = relative.empty() ? top : top + "/" + relative;
  const DirectoryHandle dir(opendir(path.c_str()));
  if (!dir) {
    complain("cannot read directory %s: %s", path.c_str(), strerror(errno));
    return false;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* item = readdir(dir.get())) {
    const std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  if (errno != 0) {
    complain("cannot read directory %s: %s", path.c_str(), strerror(errno));
    return false;
  }
  for (const std::string& name : names) {
    const std::string entryName = relative.empty() ? name : relative + "/" + name;
    const std::string entryPath = top + "/" + entryName;
    if (entryName.size() > UINT16_MAX) {
      complain("path too long for a package: %s", entryPath.c_str());
      return false;
    }
    struct stat info;
    if (lstat(entryPath.c_str(), &info) != 0) {
      complain("cannot read %s: %s", entryPath.c_str(), strerror(errno));
      return false;
    }
    ContainerEntry entry;
    entry.name = entryName;
    const auto permissions = static_cast<uint16_t>(info.st_mode & 07777);
    if (S_ISREG(info.st_mode)) {
      entry.mode = static_cast<uint16_t>(kRegularFileType | permissions);
      if (!readWholeFile(entryPath, entry.data)) {
        complain("cannot read %s: %s", entryPath.c_str(), strerror(errno));
        return false;
      }
      if (entry.data.size() > UINT32_MAX) {
        complain("file too large for a package: %s", entryPath.c_str());
        return false;
      }
      entries.push_back(std::move(entry));
    } else if (S_ISLNK(info.st_mode)) {
      entry.mode = static_cast<uint16_t>(kSymlinkType | 0777);
      std::string target(static_cast<size_t>(info.st_size) + 1, '\0');
      const ssize_t length = readlink(entryPath.c_str(), target.data(), target.size());
      if (length < 0 || static_cast<size_t>(length) >= target.size()) {
        complain("cannot read link %s: %s", entryPath.c_str(),
                 length < 0 ? strerror(errno) : "it changed while being read");
        return false;
      }
      target.resize(static_cast<size_t>(length));
      entry.data = target;
      entries.push_back(std::move(entry));
    } else if (S_ISDIR(info.st_mode)) {
      entry.mode = static_cast<uint16_t>(kDirectoryType | permissions);
      entries.push_back(std::move(entry));
      if (!collectDirectory(top, entryName, entries)) return false;
    } else {
      complain("%s is neither a file, a directory nor a symbolic link", entryPath.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

bool collectSourceTree(const std::string& top, std::vector<ContainerEntry>& entries) {
  struct stat info;
  if (stat(top.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    complain("%s is not a directory", top.c_str());
    return false;
  }
  std::vector<ContainerEntry> collected;
  if (!collectDirectory(top, "", collected)) return false;
  std::sort(collected.begin(), collected.end(),
            [](const ContainerEntry& a, const ContainerEntry& b) { return a.name < b.name; });
  entries.insert(entries.end(), std::make_move_iterator(collected.begin()),
                 std::make_move_iterator(collected.end()));
  return true;
}
