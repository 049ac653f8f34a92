#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A throw-away writable view of a router root, for running the installer on it
// without touching the root. Each file system of the root (its own, and each one
// mounted below it, such as a tmpfs at "flash" or "flash/boot") gets an overlay file
// system of its own, mounted at the same place in the view, so that the view is
// split into the same volumes as the root: a move between them is a copy, as on the
// router. A layer's changes land in its upper directory, which lies on a tmpfs
// sized to the free space of the file system below it: statfs in the view, and so
// the installer's disk space check, sees the room the router has. The overlays are
// mounted noexec, nosuid and nodev: no program from the root image runs.

// One overlay of the view.
struct ViewLayer {
  std::string place;  // below the root: "" for the root itself, "flash", "flash/boot"
  std::string lower;  // the root's directory there
  std::string upper;  // what the run changed: new and replaced files, whiteouts
  std::string view;   // where the overlay is mounted
  dev_t device = 0;   // of the file system below
  // Bytes the layer's tmpfs has beyond the free space below it: the blocks of the
  // post-install log, which the installer rewrites in place. On the router that frees
  // the old log's blocks; in the view the write copies the file up and takes its
  // blocks a second time.
  uint64_t headroom = 0;
};

class OverlayView {
 public:
  OverlayView() = default;
  // Unmounts what build() mounted, innermost first.
  ~OverlayView();
  OverlayView(const OverlayView&) = delete;
  OverlayView& operator=(const OverlayView&) = delete;

  // Lays the view over root (an absolute path without symbolic links) in scratch, an
  // empty directory. The calling process must be in a private mount namespace.
  // False, with problem set, when any layer cannot be mounted.
  bool build(const std::string& root, const std::string& scratch, std::string& problem);

  // Where the view is mounted.
  const std::string& path() const { return path_; }
  // The layers, the root's own first, each before those below it.
  const std::vector<ViewLayer>& layers() const { return layers_; }

 private:
  bool mountOn(const std::string& target, const char* type, unsigned long flags,
               const std::string& data, std::string& problem);

  std::string path_;
  std::vector<ViewLayer> layers_;
  std::vector<std::string> mounts_;
};

// Moves this process into a mount namespace of its own in which no mount or unmount
// reaches any other. False, with problem set, without the rights for it.
bool enterPrivateMountNamespace(std::string& problem);

// The mount points strictly below root in mountinfo (the text of
// /proc/self/mountinfo), as paths relative to root, parents before children. A
// mount hidden by a later mount at or above its place is left out, and so are the
// kernel's pseudo file systems (proc, sysfs, devpts and the like), which hold no
// part of a router image.
std::vector<std::string> mountPointsBelow(const std::string& root, std::string_view mountinfo);
