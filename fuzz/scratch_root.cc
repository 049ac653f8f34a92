#include "scratch_root.h"

#include <fcntl.h>
#include <ftw.h>
#include <sanitizer/common_interface_defs.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "changes/change_set.h"

namespace {

int outerRoot = -1;          // the root directory before the change, kept open
std::string scratchOutside;  // the scratch root as seen from outerRoot
bool mounted = false;

int removeEntry(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_DP)
    rmdir(path);
  else
    unlink(path);
  return 0;
}

// Goes back to the outer root and deletes the scratch directory.
void leaveScratchRoot() {
  if (outerRoot < 0) return;
  if (fchdir(outerRoot) != 0 || chroot(".") != 0) return;
  if (mounted) umount2(scratchOutside.c_str(), MNT_DETACH);
  nftw(scratchOutside.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  close(outerRoot);
  outerRoot = -1;
}

// A tmpfs of our own over the scratch directory, in a mount namespace of our own:
// fsync and sync_file_range cost nothing there, a zlib bomb fills at most its
// 256 MiB, and nothing of it outlives the process. Without the right to mount, the
// scratch directory is used as it is.
void mountPrivateTmpfs(const std::string& path) {
  if (unshare(CLONE_NEWNS) != 0) return;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
  mounted = mount("installer-fuzz", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                  "size=256m,mode=0755") == 0;
}

}  // namespace

void enterScratchRoot() {
  if (outerRoot >= 0) return;
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/installer-fuzz-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) {
    perror("scratch root");
    abort();
  }
  scratchOutside = name.data();
  mountPrivateTmpfs(scratchOutside);
  for (const char* sub : {"/flash", "/ram", "/tmp"}) mkdir((scratchOutside + sub).c_str(), 0755);

  // The sanitizers start their symbolizer on the first report, and inside the scratch
  // root they would find neither it nor this program. Started now, it keeps the
  // outer root.
  char frame[256];
  __sanitizer_symbolize_pc(__builtin_return_address(0), "%p %F %L", frame, sizeof frame);

  // No chdir: the working directory stays outside, where libFuzzer keeps its corpus
  // and writes its findings. The outer root is kept open as the way back at exit.
  outerRoot = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (outerRoot < 0 || chroot(scratchOutside.c_str()) != 0) {
    perror("chroot into the scratch root");
    abort();
  }
  atexit(leaveScratchRoot);
}

bool writeScratchFile(const std::string& path, const char* bytes, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = writeAll(fd, bytes, size);
  return close(fd) == 0 && written;
}

void removeScratchTree(const std::string& path) {
  nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}
