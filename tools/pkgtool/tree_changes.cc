#include "pkgtool/tree_changes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "pkgtool/overlay_view.h"
#include "platform/file_handles.h"

// Every lookup goes through directory descriptors and never follows a symbolic link:
// a root image may hold links that lead out of it, and the view's own links are
// only meant for a process whose root is the view.

namespace {

struct Entry {
  bool present = false;
  struct stat info {};
  bool isDirectory() const { return present && S_ISDIR(info.st_mode); }
  bool isOther() const { return present && !S_ISDIR(info.st_mode); }
};

Entry lookAt(int directory, const std::string& name) {
  Entry entry;
  entry.present =
      directory >= 0 && fstatat(directory, name.c_str(), &entry.info, AT_SYMLINK_NOFOLLOW) == 0;
  return entry;
}

// A new descriptor of the directory name in directory, or -1.
int openDirectory(int directory, const std::string& name) {
  if (directory < 0) return -1;
  return openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::set<std::string> namesIn(int directory) {
  std::set<std::string> names;
  const int copy = directory < 0 ? -1 : fcntl(directory, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return names;
  const DirectoryHandle listing(fdopendir(copy));
  if (!listing) {
    close(copy);
    return names;
  }
  while (const dirent* entry = readdir(listing.get()))
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names.insert(entry->d_name);
  return names;
}

bool sameBytes(int leftDirectory, int rightDirectory, const std::string& name) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  const FileDescriptor left(openat(leftDirectory, name.c_str(), flags));
  const FileDescriptor right(openat(rightDirectory, name.c_str(), flags));
  if (!left.valid() || !right.valid()) return false;
  char a[65536];
  char b[sizeof a];
  for (;;) {
    const ssize_t got = read(left.get(), a, sizeof a);
    if (got < 0) return false;
    // Regular files: a short read only comes at the end.
    size_t have = 0;
    while (have < static_cast<size_t>(got)) {
      const ssize_t more = read(right.get(), b + have, static_cast<size_t>(got) - have);
      if (more <= 0) return false;
      have += static_cast<size_t>(more);
    }
    if (memcmp(a, b, have) != 0) return false;
    if (got == 0) return read(right.get(), b, 1) == 0;
  }
}

std::string linkTarget(int directory, const std::string& name) {
  char target[4096];
  const ssize_t length = readlinkat(directory, name.c_str(), target, sizeof target);
  return length < 0 ? std::string() : std::string(target, static_cast<size_t>(length));
}

bool sameEntry(int viewDirectory, int rootDirectory, const std::string& name, const Entry& view,
               const Entry& root) {
  if (view.info.st_mode != root.info.st_mode) return false;
  if (S_ISREG(view.info.st_mode))
    return view.info.st_size == root.info.st_size && sameBytes(viewDirectory, rootDirectory, name);
  if (S_ISLNK(view.info.st_mode))
    return linkTarget(viewDirectory, name) == linkTarget(rootDirectory, name);
  return view.info.st_rdev == root.info.st_rdev;
}

class FlashWalk {
 public:
  FlashWalk(FileChanges& changes, std::set<std::string> otherLayers)
      : changes_(changes), otherLayers_(std::move(otherLayers)) {}

  // One directory at path: its upper directory, the view's and the root's (-1
  // when the root has none there).
  void walk(int upper, int view, int root, const std::string& path) {
    std::set<std::string> names = namesIn(upper);
    names.merge(namesIn(root));
    for (const std::string& name : names) {
      const std::string at = path + "/" + name;
      if (otherLayers_.contains(at)) continue;
      const Entry inUpper = lookAt(upper, name);
      const Entry inView = lookAt(view, name);
      const Entry inRoot = lookAt(root, name);
      // Not in the upper directory but in the view: the root's own entry.
      if (!inUpper.present && inView.present) continue;

      // The root's entry is gone from the view: even one written again with the same
      // bytes is a new file, and the old one's blocks come back.
      if (inRoot.isOther()) {
        freed(inRoot.info);
        if (!inView.isOther())
          changes_.removed.push_back(at);
        else if (!sameEntry(view, root, name, inView, inRoot))
          changes_.replaced.push_back(at);
      } else if (inView.isOther()) {
        changes_.added.push_back(at);
      }
      if (inRoot.isDirectory() && !inView.isDirectory()) {
        const FileDescriptor gone(openDirectory(root, name));
        removeTree(gone.get(), at);
      }
      if (inView.isDirectory() && inUpper.isDirectory()) {
        const FileDescriptor nextUpper(openDirectory(upper, name));
        const FileDescriptor nextView(openDirectory(view, name));
        const FileDescriptor nextRoot(inRoot.isDirectory() ? openDirectory(root, name) : -1);
        walk(nextUpper.get(), nextView.get(), nextRoot.get(), at);
      }
    }
  }

 private:
  // Every entry below a directory of the root that the view no longer has.
  void removeTree(int root, const std::string& path) {
    for (const std::string& name : namesIn(root)) {
      const std::string at = path + "/" + name;
      const Entry entry = lookAt(root, name);
      if (entry.isDirectory()) {
        const FileDescriptor below(openDirectory(root, name));
        removeTree(below.get(), at);
      } else if (entry.present) {
        changes_.removed.push_back(at);
        freed(entry.info);
      }
    }
  }

  // A file with other names keeps its blocks.
  void freed(const struct stat& info) {
    if (info.st_nlink <= 1)
      changes_.freedBytes[info.st_dev] += static_cast<uint64_t>(info.st_blocks) * 512;
  }

  FileChanges& changes_;
  std::set<std::string> otherLayers_;
};

}  // namespace

void collectFlashChanges(const ViewLayer& layer, const std::vector<ViewLayer>& layers,
                         FileChanges& changes) {
  std::set<std::string> otherLayers;
  for (const ViewLayer& other : layers)
    if (other.place != layer.place) otherLayers.insert("/" + other.place);

  // The root's own layer holds "/flash" in its directory "flash"; a layer mounted
  // outside "/flash" holds none of it.
  const bool ownLayer = layer.place.empty();
  if (!ownLayer && layer.place != "flash" && layer.place.rfind("flash/", 0) != 0) return;
  const std::string below = ownLayer ? "flash" : ".";
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  const FileDescriptor upperTop(open(layer.upper.c_str(), flags));
  const FileDescriptor viewTop(open(layer.view.c_str(), flags));
  const FileDescriptor rootTop(open(layer.lower.c_str(), flags));
  const FileDescriptor upper(openDirectory(upperTop.get(), below));
  const FileDescriptor view(openDirectory(viewTop.get(), below));
  const FileDescriptor root(openDirectory(rootTop.get(), below));
  const std::string path = ownLayer ? "/flash" : "/" + layer.place;
  if (!upper.valid() || !view.valid()) return;
  FlashWalk(changes, std::move(otherLayers)).walk(upper.get(), view.get(), root.get(), path);
  for (auto* list : {&changes.added, &changes.replaced, &changes.removed})
    std::sort(list->begin(), list->end());
}
