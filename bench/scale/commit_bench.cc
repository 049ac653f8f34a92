// "--commit" of a manifest with 1,000,000 lines, against the floor of the same
// work: a plain loop that reads the same lines and makes the same system calls
// (unlink, mkdir of the parent, rename, symlink, and the two syncs around the
// moves), run the same way in a child inside its own root.
//
// The manifest is sorted by path, as the installer writes it. Most lines delete
// files that are not there ("U"), so that the figures show what the installer does
// per line rather than what the disk does; 1 in 1,000 moves a prepared file from
// /ram into place ("M") and 1 in 1,000 makes a link ("L"). "--commit" acts before
// "-r" takes effect, so both run under chroot in roots that hold the installer and
// its shared objects. Each run gets its prepared files and a /flash without the
// moved files and links again.
//
// usage: bench_commit [lines [rounds]]   (defaults 1000000 and 7; run as root)

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scale/scale_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFilesPerDirectory = 500;

// Path of line n: /flash/lib/pkg-NNNNN/file-NNN, in sorted order.
std::string targetPath(int n) {
  char path[64];
  snprintf(path, sizeof path, "/flash/lib/pkg-%05d/file-%03d", n / kFilesPerDirectory,
           n % kFilesPerDirectory);
  return path;
}

std::string sourcePath(int n) { return "/ram/prepared-" + std::to_string(n); }

enum class Kind { Delete, Move, Link };

Kind kindOf(int n) {
  if (n % 1000 == 500) return Kind::Move;
  if (n % 1000 == 999) return Kind::Link;
  return Kind::Delete;
}

void writeManifest(const fs::path& root, int lines) {
  std::ofstream out(root / "ram/MANIFEST", std::ios::binary | std::ios::trunc);
  for (int n = 0; n < lines; ++n) {
    switch (kindOf(n)) {
      case Kind::Delete:
        out << "U " << targetPath(n) << '\n';
        break;
      case Kind::Move:
        out << "M " << targetPath(n) << ' ' << sourcePath(n) << '\n';
        break;
      case Kind::Link:
        out << "L " << targetPath(n) << " /flash/lib/shared\n";
        break;
    }
  }
}

// Puts back what a run used up: the prepared files, and /flash/lib without them.
void resetRoot(const fs::path& root, int lines) {
  fs::remove_all(root / "flash/lib");
  fs::create_directories(root / "flash/lib");
  for (int n = 0; n < lines; ++n)
    if (kindOf(n) == Kind::Move)
      bench::writeFile(root / sourcePath(n).substr(1), "prepared " + std::to_string(n) + "\n");
}

// The baseline, inside its root: the same system calls without any bookkeeping.
int plainApply() {
  std::ifstream in("/ram/MANIFEST", std::ios::binary);
  std::vector<std::string> later;
  std::string line;
  while (std::getline(in, line) && !line.empty()) {
    const size_t blank = line.find(' ', 2);
    const std::string path = line.substr(2, blank == std::string::npos ? blank : blank - 2);
    if (line[0] == 'U') {
      unlink(path.c_str());
    } else if (line[0] == 'L') {
      mkdir(fs::path(path).parent_path().c_str(), 0777);
      unlink(path.c_str());
      if (symlink(line.c_str() + blank + 1, path.c_str()) != 0) return 1;
    } else {
      later.push_back(line);
    }
  }
  sync();
  for (const std::string& move : later) {
    const size_t blank = move.find(' ', 2);
    const std::string path = move.substr(2, blank - 2);
    mkdir(fs::path(path).parent_path().c_str(), 0777);
    if (rename(move.c_str() + blank + 1, path.c_str()) != 0) return 1;
  }
  sync();
  return 0;
}

// Runs plainApply in a child inside root; the wall time in milliseconds or -1.
double timePlainApply(const fs::path& root) {
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    if (chroot(root.c_str()) != 0 || chdir("/") != 0) _exit(126);
    _exit(plainApply());
  }
  int status = 0;
  waitpid(child, &status, 0);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double, std::milli>(end - start).count();
}

// Every move and link of the manifest is in place.
bool applied(const fs::path& root, int lines) {
  for (int n = 0; n < lines; ++n) {
    struct stat info;
    const std::string path = (root / targetPath(n).substr(1)).string();
    if (kindOf(n) == Kind::Move && (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)))
      return false;
    if (kindOf(n) == Kind::Link && (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)))
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::max(1000, atoi(argv[1])) : 1000000;
  const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 7;
  bench::ScratchDirectory scratch;
  const fs::path installerRoot = fs::path(scratch.path()) / "installer-root";
  const fs::path plainRoot = fs::path(scratch.path()) / "plain-root";
  for (const fs::path& root : {installerRoot, plainRoot}) {
    fs::create_directories(root / "ram");
    fs::create_directories(root / "flash");
    writeManifest(root, lines);
  }
  if (!bench::installInto(installerRoot, INSTALLER_BINARY)) {
    fprintf(stderr, "could not copy the installer into its root\n");
    return 1;
  }
  const std::string output = scratch.path() + "/output";

  std::vector<double> commitTimes, plainTimes;
  for (int round = 0; round < rounds; ++round) {
    resetRoot(installerRoot, lines);
    resetRoot(plainRoot, lines);
    sync();
    for (int turn = 0; turn < 2; ++turn) {
      const bool isCommit = (turn == 0) == (round % 2 == 0);
      const double ms = isCommit ? bench::timeCommand({"/installer", "--commit"}, output,
                                                      installerRoot.string())
                                 : timePlainApply(plainRoot);
      const fs::path& root = isCommit ? installerRoot : plainRoot;
      if (ms < 0 || !applied(root, lines)) {
        fprintf(stderr, "%s failed:\n%s", isCommit ? "installer --commit" : "plain apply",
                isCommit ? bench::readWhole(output).c_str() : "");
        return 1;
      }
      (isCommit ? commitTimes : plainTimes).push_back(ms);
    }
  }

  printf("manifest: %d lines, %ju bytes; 1 in 1,000 a move, 1 in 1,000 a link\n", lines,
         static_cast<uintmax_t>(fs::file_size(installerRoot / "ram/MANIFEST")));
  printf("rounds: %d\n", rounds);
  bench::printMedians("installer --commit", commitTimes, "plain loop, same calls", plainTimes, 3);
  return 0;
}
