#include "faults/fault_router.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>

#include "support/signed_packages.h"

namespace fs = std::filesystem;

namespace faults {
namespace {

constexpr Version kOlder = 6u << 24 | 42u << 16 | 'f' << 8;
constexpr Version kNewer = 6u << 24 | 43u << 16 | 'f' << 8;
constexpr unsigned long kBlock = 4096;

std::string helloFile(Version version) {
  const bool newer = version == kNewer;
  std::vector<ContainerEntry> files;
  for (int i = 0; i < 7; ++i)
    files.push_back({std::string("bin/") + static_cast<char>('a' + i), 0100755,
                     noise(version + i, newer ? 5900 + 11 * i : 6000 + 7 * i)});
  files.push_back({newer ? "etc/added" : "etc/gone", 0100644, noise(version + 99, 6100)});
  files.push_back({"www/index.html", 0100644, noise(version + 98, newer ? 5800 : 5700)});
  return signedPackageFile(packageLayout("hello", version, files));
}

bool isTemporary(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  return (name.size() == 9 && name.rfind("tmp", 0) == 0) || name.ends_with(".copying");
}

std::vector<std::string> environmentOf(const Fault& fault) {
  return {std::string("LD_PRELOAD=") + FAULT_INTERPOSER, "FAULT_CALLS=" + fault.calls,
          "FAULT_AT=" + std::to_string(fault.at), "FAULT_ERROR=" + fault.error,
          fault.afterSync ? "FAULT_AFTER=sync" : "FAULT_AFTER", "FAULT_NO_SYNC=1",
          // A sanitizer build would object to a library loaded ahead of its runtime.
          "ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0"};
}

RunResult run(const ScratchRoot& root, const Invocation& invocation,
              const std::vector<std::string>& environment) {
  return invocation.chrooted
             ? runInChroot(root, invocation.arguments, invocation.input, environment)
             : runInstaller(root, invocation.arguments, invocation.input, environment);
}

}  // namespace

std::string noise(uint32_t seed, size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 23);
  }
  return bytes;
}

const std::string& olderHello() {
  static const std::string file = helloFile(kOlder);
  return file;
}

const std::string& newerHello() {
  static const std::string file = helloFile(kNewer);
  return file;
}

namespace {

// Mounts a tmpfs at relative on first use and gives it room for what it holds plus
// freeBlocks.
bool sizeTmpfs(ScratchRoot& root, const std::string& relative, unsigned long freeBlocks) {
  const std::string path = root.at(relative);
  struct stat top, mounted;
  if (stat(root.path().c_str(), &top) != 0 || stat(path.c_str(), &mounted) != 0) return false;
  if (top.st_dev == mounted.st_dev && !root.mountTmpfs(relative, 1 << 20)) return false;
  struct statfs info;
  if (statfs(path.c_str(), &info) != 0) return false;
  const unsigned long used = info.f_blocks - info.f_bfree;
  const std::string size = "size=" + std::to_string((used + freeBlocks) * kBlock);
  return mount("tmpfs", path.c_str(), "tmpfs", MS_REMOUNT, size.c_str()) == 0;
}

}  // namespace

bool resetRoot(ScratchRoot& root, const ScratchRoot& base, unsigned long flashBlocks,
               unsigned long ramBlocks) {
  for (const char* top : {"flash", "ram", "rw"})
    for (const auto& entry : fs::directory_iterator(root.at(top))) fs::remove_all(entry.path());
  if (!sizeTmpfs(root, "flash", 256)) return false;
  for (const char* top : {"flash", "ram", "rw"})
    fs::copy(base.at(top), root.at(top),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  if (flashBlocks != kNoLimit && !sizeTmpfs(root, "flash", flashBlocks)) return false;
  return ramBlocks == kNoLimit || sizeTmpfs(root, "ram", ramBlocks);
}

void installAll(const ScratchRoot& root, const std::vector<std::string>& files) {
  root.makeDirectory("flash/var/pdb");
  for (const std::string& file : files) {
    const RunResult run = runWithFault(root, standardInput(file));
    EXPECT_EQ(run.status, 0) << run.out;
  }
  unlink(root.at("flash/PCKGS_CHANGED").c_str());
  unlink(root.at("flash/postlog").c_str());
}

Invocation standardInput(const std::string& file) { return {{"-"}, file}; }

void offer(const ScratchRoot& root, const std::string& file) {
  root.write("rw/pckg/.download/offered.zpk", file);
}

RunResult runWithFault(const ScratchRoot& root, const Invocation& invocation,
                       const Fault& fault) {
  return run(root, invocation, environmentOf(fault));
}

unsigned long countCalls(const ScratchRoot& root, const Invocation& invocation,
                         const Fault& fault) {
  // Opened before any change of root: inside the root for a chrooted run.
  const std::string tally = invocation.chrooted ? "/tally" : root.at("tally");
  std::vector<std::string> environment = environmentOf({fault.calls, 0, "", fault.afterSync});
  environment.push_back("FAULT_TALLY=" + tally);
  run(root, invocation, environment);
  std::istringstream text(root.read("tally"));
  unsigned long count = 0;
  text >> count;
  unlink(root.at("tally").c_str());
  return count;
}

void prepareChroot(ScratchRoot& root) {
  root.installBinary();
  const std::string library = root.at(FAULT_INTERPOSER);
  fs::create_directories(fs::path(library).parent_path());
  fs::copy_file(FAULT_INTERPOSER, library, fs::copy_options::overwrite_existing);
}

Tree flashTree(const ScratchRoot& root) {
  Tree tree;
  std::istringstream lines(treeSnapshot(root.at("flash")));
  std::string line;
  while (std::getline(lines, line)) {
    const size_t end = line.back() == '/' ? line.size() - 1 : line.find(' ');
    const std::string path = line.substr(0, end);
    if (isTemporary(path) || path == "/postlog" || path == "/var/pdb/image") continue;
    tree[path] = line.substr(end);
  }
  return tree;
}

std::string firstDifference(const Tree& one, const Tree& other) {
  auto a = one.begin();
  auto b = other.begin();
  for (; a != one.end() && b != other.end(); ++a, ++b)
    if (*a != *b) return std::min(a->first, b->first);
  if (a != one.end()) return a->first;
  if (b != other.end()) return b->first;
  return "";
}

std::string mixedEntry(const Tree& tree, const Tree& older, const Tree& newer) {
  const auto value = [](const Tree& in, const std::string& path) -> std::optional<std::string> {
    const auto found = in.find(path);
    if (found == in.end()) return std::nullopt;
    return found->second;
  };
  for (const Tree* source : {&tree, &older, &newer})
    for (const auto& entry : *source) {
      const std::optional<std::string> now = value(tree, entry.first);
      if (now != value(older, entry.first) && now != value(newer, entry.first)) return entry.first;
    }
  return "";
}

std::vector<std::string> temporaries(const ScratchRoot& root) {
  std::vector<std::string> found;
  for (const char* top : {"flash", "ram", "rw"})
    for (const std::string& path : leftoverTemporaries(root.at(top))) found.push_back(path);
  return found;
}

}  // namespace faults
