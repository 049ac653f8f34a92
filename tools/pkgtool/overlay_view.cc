#include "pkgtool/overlay_view.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "pkgtool/file_io.h"
#include "pkgtool/printable_text.h"
#include "platform/file_handles.h"

namespace {

constexpr unsigned long kViewFlags = MS_NOEXEC | MS_NOSUID | MS_NODEV;

// mountinfo writes a blank, tab, line feed and backslash in a path as "\ooo".
std::string unescapeMountPath(std::string_view text) {
  std::string path;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() &&
        std::all_of(text.begin() + i + 1, text.begin() + i + 4,
                    [](char c) { return c >= '0' && c <= '7'; })) {
      path += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                (text[i + 3] - '0'));
      i += 3;
    } else {
      path += text[i];
    }
  }
  return path;
}

bool isPseudoFileSystem(const std::string& type) {
  static const char* const kTypes[] = {
      "proc",    "sysfs",       "devpts", "devtmpfs", "cgroup",     "cgroup2",   "debugfs",
      "tracefs", "securityfs",  "pstore", "bpf",      "mqueue",     "hugetlbfs", "configfs",
      "fusectl", "binfmt_misc", "autofs", "efivarfs", "rpc_pipefs", "nsfs"};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

// Opens the directory at relative below the directory base, one component at a
// time, refusing symbolic links: a root image may hold a link where a mount point
// was, and nothing of the view may be mounted outside it. The descriptor (O_PATH:
// only mounted on or named to the kernel) is new, or -1 with errno set.
int openBelow(const std::string& base, const std::string& relative) {
  int directory = open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  std::istringstream components(relative);
  for (std::string name; directory >= 0 && std::getline(components, name, '/');) {
    if (name.empty()) continue;
    const FileDescriptor parent(directory);
    directory = openat(parent.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  return directory;
}

std::string procPath(const FileDescriptor& fd) {
  return "/proc/self/fd/" + std::to_string(fd.get());
}

}  // namespace

std::vector<std::string> mountPointsBelow(const std::string& root, std::string_view mountinfo) {
  const std::string prefix = root == "/" ? "/" : root + "/";
  std::vector<std::string> found;
  std::istringstream lines{std::string(mountinfo)};
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string field;
    std::vector<std::string> words;
    while (fields >> field) words.push_back(field);
    const auto separator = std::find(words.begin(), words.end(), "-");
    if (words.size() < 5 || separator == words.end() || separator + 1 == words.end()) continue;
    const std::string point = unescapeMountPath(words[4]);
    if (point != root && point.rfind(prefix, 0) != 0) continue;
    const std::string place = point == root ? "" : point.substr(prefix.size());
    // A mount covers whatever was mounted at or below its place before it.
    std::erase_if(found, [&](const std::string& earlier) {
      return place.empty() || earlier == place || earlier.rfind(place + "/", 0) == 0;
    });
    if (!place.empty() && !isPseudoFileSystem(separator[1])) found.push_back(place);
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool enterPrivateMountNamespace(std::string& problem) {
  if (unshare(CLONE_NEWNS) != 0) {
    problem = std::string("cannot enter a mount namespace of its own: ") + strerror(errno);
    return false;
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    problem = std::string("cannot make the mounts private: ") + strerror(errno);
    return false;
  }
  return true;
}

OverlayView::~OverlayView() {
  for (auto target = mounts_.rbegin(); target != mounts_.rend(); ++target)
    umount2(target->c_str(), MNT_DETACH | UMOUNT_NOFOLLOW);
}

bool OverlayView::mountOn(const std::string& target, const char* type, unsigned long flags,
                          const std::string& data, std::string& problem) {
  if (mount(type, target.c_str(), type, flags, data.c_str()) == 0) return true;
  problem = std::string("cannot mount ") + type + ": " + strerror(errno);
  return false;
}

bool OverlayView::build(const std::string& root, const std::string& scratch, std::string& problem) {
  std::string mountinfo;
  if (!readWholeFile("/proc/self/mountinfo", mountinfo)) {
    problem = std::string("cannot read /proc/self/mountinfo: ") + strerror(errno);
    return false;
  }
  std::vector<std::string> places = mountPointsBelow(root, mountinfo);
  places.insert(places.begin(), "");

  // One small tmpfs holds the view's mount point and every layer's tmpfs, so that
  // nothing of the view is left in scratch when the mount namespace ends.
  if (!mountOn(scratch, "tmpfs", kViewFlags, "size=64k,mode=0700", problem)) return false;
  mounts_.push_back(scratch);
  path_ = scratch + "/view";
  if (mkdir(path_.c_str(), 0755) != 0) {
    problem = std::string("cannot make the view's mount point: ") + strerror(errno);
    return false;
  }

  for (const std::string& place : places) {
    ViewLayer layer;
    layer.place = place;
    layer.lower = place.empty() ? root : root + "/" + place;
    layer.view = place.empty() ? path_ : path_ + "/" + place;
    const std::string shown = printable(place.empty() ? root : layer.lower);
    const FileDescriptor lower(openBelow(root, place));
    const FileDescriptor target(openBelow(path_, place));
    struct statfs volume;
    struct stat owner;
    if (!lower.valid() || !target.valid() || fstatfs(lower.get(), &volume) != 0 ||
        fstat(lower.get(), &owner) != 0) {
      problem = "cannot lay a view over " + shown + ": " + strerror(errno);
      return false;
    }

    // The layer's tmpfs has the room of the file system below it (at least one page:
    // a size of 0 would mean no limit), and the log's blocks when it holds the log.
    layer.device = owner.st_dev;
    const std::string log = "flash/postlog";
    const bool holdsLog = std::none_of(places.begin(), places.end(), [&](const std::string& other) {
      return other.size() > place.size() && log.rfind(other + "/", 0) == 0;
    });
    struct stat logInfo;
    if ((place.empty() || log.rfind(place + "/", 0) == 0) && holdsLog &&
        fstatat(lower.get(), place.empty() ? log.c_str() : log.substr(place.size() + 1).c_str(),
                &logInfo, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(logInfo.st_mode))
      layer.headroom = static_cast<uint64_t>(logInfo.st_blocks) * 512;
    const std::string home = scratch + "/layer" + std::to_string(layers_.size());
    const unsigned long long room = std::max<unsigned long long>(
        1, static_cast<unsigned long long>(volume.f_bfree) * volume.f_bsize + layer.headroom);
    if (mkdir(home.c_str(), 0700) != 0) {
      problem = "cannot lay a view over " + shown + ": " + strerror(errno);
      return false;
    }
    if (!mountOn(home, "tmpfs", kViewFlags, "size=" + std::to_string(room) + ",mode=0700",
                 problem)) {
      problem = "cannot lay a view over " + shown + ": " + problem;
      return false;
    }
    mounts_.push_back(home);
    layer.upper = home + "/upper";
    const std::string work = home + "/work";
    // The view's top directory takes its owner and mode from the upper directory.
    if (mkdir(layer.upper.c_str(), 0700) != 0 || mkdir(work.c_str(), 0700) != 0 ||
        chown(layer.upper.c_str(), owner.st_uid, owner.st_gid) != 0 ||
        chmod(layer.upper.c_str(), owner.st_mode & 07777) != 0) {
      problem = "cannot lay a view over " + shown + ": " + strerror(errno);
      return false;
    }

    // xino=on gives every file of the overlay the overlay's device number, as on one
    // file system; without it, a file reports the device of the layer it lies on, and
    // the installer's disk check would count a rename within the volume as a copy.
    const std::string layers =
        "lowerdir=" + procPath(lower) + ",upperdir=" + layer.upper + ",workdir=" + work;
    const std::string on = procPath(target);
    if (!mountOn(on, "overlay", kViewFlags, layers + ",xino=on", problem) &&
        !mountOn(on, "overlay", kViewFlags, layers, problem)) {
      problem = "cannot lay a view over " + shown + ": " + problem + " (overlay file system)";
      return false;
    }
    mounts_.push_back(layer.view);
    layers_.push_back(std::move(layer));
  }
  return true;
}
