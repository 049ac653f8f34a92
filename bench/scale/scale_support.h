#pragma once

// Shared pieces of the scale benchmarks: files of a router root, directory order,
// timed runs of the installer (optionally inside a root) and the summary lines.

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pkgfile/bench_support.h"

namespace bench {

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// A tmpfs mounted on a directory for as long as the object lives; nothing is
// mounted for an empty path.
class TmpfsMount {
 public:
  explicit TmpfsMount(std::string path) : path_(std::move(path)) {
    if (!path_.empty() && mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=2g") == 0)
      mounted_ = true;
  }
  ~TmpfsMount() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

// The entries of a directory in the order readdir returns them, without the ones
// beginning with ".": the order in which the installer loads database directories.
inline std::vector<std::string> directoryOrder(const std::string& path) {
  std::vector<std::string> names;
  DIR* directory = opendir(path.c_str());
  if (directory == nullptr) return names;
  while (const dirent* entry = readdir(directory))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  closedir(directory);
  return names;
}

// Runs argv (inside chrootTo when not empty) with standard output and error to
// outPath; the wall time in milliseconds, or a negative value when it did not exit
// with status 0.
inline double timeCommand(const std::vector<std::string>& argv, const std::string& outPath,
                          const std::string& chrootTo = "") {
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(126);
    close(out);
    if (!chrootTo.empty() && (chroot(chrootTo.c_str()) != 0 || chdir("/") != 0)) _exit(126);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double, std::milli>(end - start).count();
}

// Copies the installer and every shared object it loads into root, so that it runs
// there under chroot as "/installer".
inline bool installInto(const std::filesystem::path& root, const std::string& binary) {
  namespace fs = std::filesystem;
  std::error_code failed;
  fs::copy_file(binary, root / "installer", fs::copy_options::overwrite_existing, failed);
  if (failed) return false;
  const std::string listing = (root / "ldd.txt").string();
  if (timeCommand({"/usr/bin/ldd", binary}, listing) < 0) return false;
  std::ifstream lines(listing);
  std::string word;
  while (lines >> word) {
    if (word[0] != '/') continue;
    const fs::path target = root / word.substr(1);
    fs::create_directories(target.parent_path());
    fs::copy_file(fs::canonical(word), target, fs::copy_options::overwrite_existing, failed);
    if (failed) return false;
  }
  fs::remove(root / "ldd.txt");
  return true;
}

inline std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Lines of text that begin with prefix.
inline long countLines(const std::string& text, const std::string& prefix) {
  long count = 0;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.compare(0, prefix.size(), prefix) == 0) ++count;
  return count;
}

inline void printMedians(const char* command, const std::vector<double>& commandTimes,
                         const char* baseline, const std::vector<double>& baselineTimes,
                         double aim) {
  const double commandMedian = median(commandTimes);
  const double baselineMedian = median(baselineTimes);
  printf("%-28s median %9.2f ms\n", command, commandMedian);
  printf("%-28s median %9.2f ms\n", baseline, baselineMedian);
  printf("ratio %.2f (aim: at most %g)\n", commandMedian / baselineMedian, aim);
}

}  // namespace bench
