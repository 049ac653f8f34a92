#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A scratch router root under /tmp laid out like the router (flash/, ram/, rw/),
// removed with everything below it (tmpfs mounts included) when the object ends.
class ScratchRoot {
 public:
  ScratchRoot();
  ~ScratchRoot();
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;

  const std::string& path() const { return path_; }
  // path() + relative ("flash/var/pdb/x" or "/flash/var/pdb/x").
  std::string at(const std::string& relative) const;

  // Writes a file (parents created) with the given mode.
  void write(const std::string& relative, const std::string& content, unsigned mode = 0644) const;
  std::string read(const std::string& relative) const;
  bool exists(const std::string& relative) const;
  void makeDirectory(const std::string& relative) const;

  // Mounts a tmpfs of sizeBytes at relative (created). False when mounting is not
  // allowed here; the caller then skips its test with a reason.
  bool mountTmpfs(const std::string& relative, uint64_t sizeBytes);

  // Copies build/installer and the shared libraries it needs into the root, so
  // that it can run there under chroot as "/installer"; mounts /proc there too.
  void installBinary();

 private:
  std::string path_;
  std::vector<std::string> mounts_;
};

// Result of running a program.
struct RunResult {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs argv[0] with the arguments, feeding stdinData, with extra environment
// settings ("NAME=value"; "NAME" alone unsets it).
RunResult runProgram(const std::vector<std::string>& argv, const std::string& stdinData = "",
                     const std::vector<std::string>& environment = {});

// Runs build/installer inside root with chroot (root must hold installBinary()).
RunResult runInChroot(const ScratchRoot& root, const std::vector<std::string>& arguments,
                      const std::string& stdinData = "",
                      const std::vector<std::string>& environment = {});

// Runs build/installer -r root.path() arguments...
RunResult runInstaller(const ScratchRoot& root, const std::vector<std::string>& arguments,
                       const std::string& stdinData = "",
                       const std::vector<std::string>& environment = {});

// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// Runs body in a forked child that has changed root to root.path(), so that code
// working on the router's absolute paths ("/flash", "/ram", "/rw") sees the scratch
// root. GoogleTest assertions inside body are reported by the child; the call
// returns true when the child finished without a failed assertion.
bool inRoot(const ScratchRoot& root, const std::function<void()>& body);
