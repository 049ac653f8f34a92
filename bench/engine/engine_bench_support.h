#pragma once

// Shared pieces of the whole-program install benchmarks: the generated trees and
// their signed packages, fresh router roots, a cold page cache, timed child
// processes, the checks that the files arrived, and the report rows.
//
// The trees: file sizes log-uniform from 100 B to 850 kB; two parts text-like to
// one part random bytes, so that a compressed tree is about half its size.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pkgfile/bench_support.h"
#include "pkgfile/package_format.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/package_signer.h"

namespace bench {

namespace fs = std::filesystem;

constexpr uint32_t kPackageVersion = 0x062A6603;  // 6.42.3
constexpr double kSmallestFile = 100;
constexpr double kLargestFile = 850000;

// Seeded the same every run, so that every run sees the same trees.
using Generator = std::mt19937_64;

inline double unitInterval(Generator& random) {
  return static_cast<double>(random() >> 11) * 0x1.0p-53;
}

// A size log-uniform between the smallest and the largest file.
inline size_t drawFileSize(Generator& random) {
  const double spread = std::log(kLargestFile / kSmallestFile);
  return static_cast<size_t>(kSmallestFile * std::exp(spread * unitInterval(random)));
}

// Text-like runs (configuration words) with 4 KiB stretches of random bytes; a
// quarter of the files are random bytes throughout (compressed data, firmware blobs).
inline std::string makeContent(Generator& random, size_t size, bool incompressible) {
  static const char* const kWords[] = {"interface ", "bridge ",  "address ", "route ",
                                       "0x7f00 ",    "static ",  "return ",  "config\n",
                                       "firewall ",  "{\n",      "}\n",      "mtu=1500 ",
                                       "vlan ",      "\tqueue ", "dhcp ",    "ether1 "};
  std::string data;
  data.reserve(size + 16);
  while (data.size() < size) {
    if (incompressible || random() % 10 == 0) {
      for (size_t i = 0; i < 512 && data.size() < size; ++i) {
        const uint64_t word = random();
        data.append(reinterpret_cast<const char*>(&word), sizeof word);
      }
    } else {
      for (int i = 0; i < 400; ++i) data += kWords[random() % 16];
    }
  }
  data.resize(size);
  return data;
}

// The n-th file of a tree: every third one executable, every fourth (from the
// second on) random bytes throughout.
inline ContainerEntry makeFile(Generator& random, std::string name, size_t size, size_t n) {
  ContainerEntry entry;
  entry.name = std::move(name);
  entry.mode = n % 3 ? 0100644 : 0100755;
  entry.data = makeContent(random, size, n % 4 == 1);
  return entry;
}

// A package named name, version 6.42.3, with a fixed build time.
inline PackageLayout packageLayout(const std::string& name) {
  PackageLayout layout;
  layout.meta.name = name;
  layout.meta.version = kPackageVersion;
  layout.meta.buildTime = 1700000000;
  return layout;
}

// Adds the files of bench_install's tree, lib/d<n % 40>/f<n>, until they hold
// treeBytes (about 2,000 files for 200 MiB).
inline void addTreeFiles(PackageLayout& layout, uint64_t treeBytes) {
  Generator random(0x2545F4914F6CDD1Dull);
  uint64_t total = 0;
  for (size_t n = 0; total < treeBytes; ++n) {
    const size_t size = drawFileSize(random);
    const std::string name = "lib/d" + std::to_string(n % 40) + "/f" + std::to_string(n);
    layout.files.push_back(makeFile(random, name, size, n));
    total += size;
  }
}

// One package of a generated tree and the same tree in the peers' formats.
struct TreePackage {
  std::string name;
  std::string tree;     // directory holding the tree below "lib/" (and "DEBIAN/")
  std::string package;  // signed package file
  std::string archive;  // tar.gz of the tree, gzip level 6
  std::string deb;      // .deb of the tree, empty when not made
  uint64_t containerOffset = 0;
  uint64_t containerLength = 0;
  uint64_t treeBytes = 0;
  uint64_t files = 0;
};

inline std::string factsPath(const TreePackage& inputs) { return inputs.package + ".facts"; }

// Finds the file container part of a package file held in memory.
inline bool findContainer(const std::string& file, TreePackage& inputs) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  for (size_t at = kFileHeaderSize; at + kPartHeaderSize <= file.size();) {
    const uint16_t type = readLe16(bytes + at);
    const uint32_t length = readLe32(bytes + at + 2);
    at += kPartHeaderSize;
    if (length > file.size() - at) return false;
    if (type == FileContainerPart) {
      inputs.containerOffset = at;
      inputs.containerLength = length;
      return true;
    }
    at += length;
  }
  return false;
}

inline bool readBenchSigningKeys(SigningKeys& secrets) {
  const std::string keys = SOURCE_DIR "/keys/";
  return readSigningKeys(keys + "legacy.secret", keys + "eddsa.secret", secrets);
}

// Writes the files of layout below inputs.tree, then the signed package to
// inputs.package, and leaves its container's place and the tree's size in the facts
// file beside it (the generation runs in a child process; loadFacts reads them).
inline bool writeTreePackage(const PackageLayout& layout, const SigningKeys& secrets,
                             const TreePackage& inputs) {
  uint64_t bytes = 0;
  for (const ContainerEntry& entry : layout.files) {
    const fs::path path = inputs.tree + "/" + entry.name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(entry.data.data(), entry.data.size());
    fs::permissions(path, static_cast<fs::perms>(entry.mode & 0777));
    bytes += entry.data.size();
  }
  std::string file = buildPackageFile(layout);
  if (signPackageFile(file, secrets, {}) != SignStatus::Signed) return false;
  TreePackage found;
  if (!findContainer(file, found)) return false;
  std::ofstream(inputs.package, std::ios::binary).write(file.data(), file.size());
  std::ofstream(factsPath(inputs)) << found.containerOffset << ' ' << found.containerLength << ' '
                                   << bytes << ' ' << layout.files.size();
  return true;
}

inline bool loadFacts(TreePackage& inputs) {
  std::ifstream facts(factsPath(inputs));
  facts >> inputs.containerOffset >> inputs.containerLength >> inputs.treeBytes >> inputs.files;
  return static_cast<bool>(facts);
}

inline int runShell(const std::string& command) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tree's "lib/" as inputs.archive, gzip level 6.
inline bool makeArchive(const TreePackage& inputs) {
  return runShell("tar -C '" + inputs.tree + "' -cf - lib | gzip -6 -n > '" + inputs.archive +
                  "'") == 0;
}

// The tree's "lib/" as inputs.deb, with a control file of the fields dpkg-deb
// asks for and data.tar compressed as the archive is (gzip level 6).
inline bool makeDeb(const TreePackage& inputs) {
  fs::create_directories(inputs.tree + "/DEBIAN");
  std::ofstream(inputs.tree + "/DEBIAN/control")
      << "Package: " << inputs.name << "\nVersion: 6.42.3\nArchitecture: all\n"
      << "Maintainer: Halvane benchmarks <bench@halvane.invalid>\n"
      << "Description: generated tree of a benchmark\n";
  return runShell("dpkg-deb --root-owner-group -Zgzip -z6 --build '" + inputs.tree + "' '" +
                  inputs.deb + "' > /dev/null") == 0;
}

// Everything written so far reaches the disk, then the page cache is emptied: each
// run reads its input from the disk and starts with nothing left to write back.
inline bool dropCaches() {
  sync();
  std::ofstream control("/proc/sys/vm/drop_caches");
  control << "3\n";
  control.flush();
  return control.good();
}

// A fresh router root: flash/var/pdb/, ram/, rw/, and the extra directories.
inline std::string freshRoot(const std::string& directory, const std::string& name,
                             std::initializer_list<const char*> extra = {}) {
  const std::string root = directory + "/roots/" + name;
  for (const char* part : {"/flash/var/pdb", "/ram", "/rw"}) fs::create_directories(root + part);
  for (const char* part : extra) fs::create_directories(root + part);
  return root;
}

struct Run {
  double wall = 0;  // seconds, fork to reaped
  double cpu = 0;   // user and system time of the child and what it waited for
  long peakRssKb = 0;
  bool ok = false;

  // Adds a run that followed this one.
  void append(const Run& next) {
    wall += next.wall;
    cpu += next.cpu;
    ok = ok && next.ok;
  }
};

inline double seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

// Runs body in a child, timed from the fork until it is reaped.
template <typename Body>
Run timeChild(Body body) {
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Run run;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  run.peakRssKb = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

using Command = std::vector<std::string>;

// Runs the commands one after the other, each with standard input from inPath and
// the output to outPath, as one timed child; stops at the first that fails.
inline Run timeCommands(const std::vector<Command>& commands, const std::string& inPath,
                        const std::string& outPath) {
  return timeChild([&] {
    const int in = open(inPath.c_str(), O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) return 126;
    close(in);
    close(out);
    for (const Command& argv : commands) {
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      if (commands.size() == 1) {
        execvp(args[0], args.data());
        return 127;
      }
      const pid_t command = fork();
      if (command == 0) {
        execvp(args[0], args.data());
        _exit(127);
      }
      int status = 0;
      if (waitpid(command, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;
    }
    return 0;
  });
}

inline Run timeCommand(const Command& argv, const std::string& inPath,
                       const std::string& outPath) {
  return timeCommands({argv}, inPath, outPath);
}

// Inflates the package's container with zlib into a buffer that is thrown away.
inline bool inflateContainer(const TreePackage& inputs) {
  const int fd = open(inputs.package.c_str(), O_RDONLY);
  if (fd < 0) return false;
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    close(fd);
    return false;
  }
  std::unique_ptr<Bytef[]> input(new Bytef[1 << 16]), output(new Bytef[1 << 16]);
  auto offset = static_cast<off_t>(inputs.containerOffset);
  const auto end = static_cast<off_t>(inputs.containerOffset + inputs.containerLength);
  int result = Z_OK;
  while (result == Z_OK && offset < end) {
    const ssize_t got = pread(fd, input.get(), std::min<off_t>(1 << 16, end - offset), offset);
    if (got <= 0) break;
    offset += got;
    stream.next_in = input.get();
    stream.avail_in = static_cast<uInt>(got);
    while (result == Z_OK && (stream.avail_in != 0 || stream.avail_out == 0)) {
      stream.next_out = output.get();
      stream.avail_out = 1 << 16;
      result = inflate(&stream, Z_NO_FLUSH);
    }
  }
  const bool whole = result == Z_STREAM_END && stream.total_out != 0;
  inflateEnd(&stream);
  close(fd);
  return whole;
}

// The regular files below directory.
inline uint64_t countFiles(const std::string& directory) {
  uint64_t count = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error))
    if (it->is_regular_file()) ++count;
  return count;
}

// Whether every file below tree is below copy too, with the same bytes.
inline bool sameTree(const std::string& tree, const std::string& copy) {
  for (const auto& entry : fs::recursive_directory_iterator(tree)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), tree).string();
    std::ifstream a(entry.path(), std::ios::binary), b(copy + "/" + relative, std::ios::binary);
    std::string left((std::istreambuf_iterator<char>(a)), {});
    std::string right((std::istreambuf_iterator<char>(b)), {});
    if (left != right) return false;
  }
  return true;
}

// Wall and processor times of the runs of one command.
struct Samples {
  std::vector<double> wall, cpu;
};

// Adds the time of a sync to a run that succeeded: the peers' data made durable,
// as the installer's is before it returns.
inline void appendSync(Run& run, const std::string& outPath) {
  if (run.ok) run.append(timeCommand({"sync"}, "/dev/null", outPath));
}

// Keeps the times of a run that succeeded and delivered all files; otherwise says
// which command failed and returns false.
inline bool keepRun(const char* program, const char* command, const Run& run, bool delivered,
                    const std::string& outPath, Samples& samples) {
  if (!run.ok || !delivered) {
    std::fprintf(stderr, "%s: %s failed (output in %s)\n", program, command, outPath.c_str());
    return false;
  }
  samples.wall.push_back(run.wall);
  samples.cpu.push_back(run.cpu);
  return true;
}

// Report rows: a median, and the ratio of the measured command to a peer.
inline void printMedian(const char* name, double wall, double cpu) {
  std::printf("  %-30s %7.3f s / %7.3f s\n", name, wall, cpu);
}

// One row for each of count commands; their medians are left in wall and cpu.
inline void printMedians(const char* const* names, const Samples* samples, int count,
                         double* wall, double* cpu) {
  for (int n = 0; n < count; ++n) {
    wall[n] = median(samples[n].wall);
    cpu[n] = median(samples[n].cpu);
    printMedian(names[n], wall[n], cpu[n]);
  }
}

inline void printRatio(const char* command, const char* peer, double wall, double cpu,
                       const char* goal, int peerWidth = 16) {
  std::printf("  %s / %-*s %5.2f / %5.2f%s\n", command, peerWidth, peer, wall, cpu, goal);
}

}  // namespace bench
