// Standard-input install benchmark. Builds a signed package of a tree of files
// (sizes log-uniform from 100 B to 850 kB, so about 2,000 files for 200 MiB; two
// parts text-like to one part random bytes, so that the file container is about
// half the tree) and the same tree as a gzip level-6 tar archive, then runs
// alternately, each on a fresh router root and after the page cache was dropped:
//   - installer -r ROOT - < package   (the files, the database, sync before and
//     after the renames);
//   - plain zlib inflation of the package's file container, writing nothing: the
//     floor of any install of it;
//   - tar -xzf of the archive into ROOT/flash;
//   - the same tar -xzf followed by sync, as the installer makes its data durable
//     before it returns and tar does not.
// Prints the medians, the installer's ratio to each, and the installer's peak
// resident set for a 20 MiB and the large tree.
//
// Old roots are removed only at the end: right after a large tree is deleted the
// file system creates files slowly for half a minute, which would be measured
// instead of the commands.
//
// usage: bench_install [MiB [rounds]]   (defaults 200 and 5; must run as root)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>

#include "pkgfile/bench_support.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/package_signer.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kVersion = 0x062A6603;  // 6.42.3
constexpr double kSmallestFile = 100;
constexpr double kLargestFile = 850000;

// The same tree every run.
using Generator = std::mt19937_64;

double unitInterval(Generator& random) { return static_cast<double>(random() >> 11) * 0x1.0p-53; }

// Text-like runs (configuration words) with 4 KiB stretches of random bytes; a
// quarter of the files are random bytes throughout (compressed data, firmware blobs).
std::string makeContent(Generator& random, size_t size, bool incompressible) {
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

struct Inputs {
  std::string package;   // signed package file
  std::string archive;   // tar.gz of the same tree
  uint64_t containerOffset = 0;
  uint64_t containerLength = 0;
  uint64_t treeBytes = 0;
  uint64_t files = 0;
};

// Finds the file container part of a package file held in memory.
bool findContainer(const std::string& file, Inputs& inputs) {
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

int runShell(const std::string& command) {
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

// Writes the tree below directory/tree, the signed package and the archive. Runs in
// a child of its own, so that the tree held in memory never counts against the
// measuring process.
bool makeInputs(const std::string& directory, uint64_t treeBytes, Inputs& inputs) {
  const std::string facts = directory + "/facts";
  const bench::Sample made = bench::measureInChild([&](bench::Timer&, unsigned long long&) {
    std::string keys = SOURCE_DIR "/keys/";
    SigningKeys secrets;
    if (!readSigningKeys(keys + "legacy.secret", keys + "eddsa.secret", secrets)) return false;
    PackageLayout layout;
    layout.meta.name = "bulk";
    layout.meta.version = kVersion;
    layout.meta.buildTime = 1700000000;
    Generator random(0x2545F4914F6CDD1Dull);
    const double spread = std::log(kLargestFile / kSmallestFile);
    uint64_t total = 0;
    for (size_t n = 0; total < treeBytes; ++n) {
      const double drawn = kSmallestFile * std::exp(spread * unitInterval(random));
      const auto size = static_cast<size_t>(drawn);
      ContainerEntry entry;
      entry.name = "lib/d" + std::to_string(n % 40) + "/f" + std::to_string(n);
      entry.mode = n % 3 ? 0100644 : 0100755;
      entry.data = makeContent(random, size, n % 4 == 1);
      const fs::path path = directory + "/tree/" + entry.name;
      fs::create_directories(path.parent_path());
      std::ofstream(path, std::ios::binary).write(entry.data.data(), entry.data.size());
      fs::permissions(path, static_cast<fs::perms>(entry.mode & 0777));
      total += size;
      layout.files.push_back(std::move(entry));
    }
    std::string file = buildPackageFile(layout);
    if (signPackageFile(file, secrets, {}) != SignStatus::Signed) return false;
    Inputs found;
    if (!findContainer(file, found)) return false;
    std::ofstream(directory + "/bulk.zpk", std::ios::binary).write(file.data(), file.size());
    std::ofstream(facts) << found.containerOffset << ' ' << found.containerLength << ' ' << total
                         << ' ' << layout.files.size();
    return true;
  });
  if (!made.ok) return false;
  inputs.package = directory + "/bulk.zpk";
  inputs.archive = directory + "/tree.tar.gz";
  std::ifstream(facts) >> inputs.containerOffset >> inputs.containerLength >> inputs.treeBytes >>
      inputs.files;
  return runShell("tar -C '" + directory + "/tree' -cf - lib | gzip -6 -n > '" + inputs.archive +
                  "'") == 0;
}

// Everything written so far reaches the disk, then the page cache is emptied: each
// run reads its input from the disk and starts with nothing left to write back.
bool dropCaches() {
  sync();
  std::ofstream control("/proc/sys/vm/drop_caches");
  control << "3\n";
  control.flush();
  return control.good();
}

// A fresh router root: flash/var/pdb/, ram/, rw/.
std::string freshRoot(const std::string& directory, const std::string& name) {
  const std::string root = directory + "/roots/" + name;
  for (const char* part : {"/flash/var/pdb", "/ram", "/rw"}) fs::create_directories(root + part);
  return root;
}

struct Run {
  double wall = 0;  // seconds, fork to reaped
  double cpu = 0;   // user and system time of the child and what it waited for
  long peakRssKb = 0;
  bool ok = false;
};

double seconds(const timeval& time) {
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

// Runs argv with standard input from inPath and the output to outPath.
Run timeCommand(const std::vector<std::string>& argv, const std::string& inPath,
                const std::string& outPath) {
  return timeChild([&] {
    const int in = open(inPath.c_str(), O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) return 126;
    close(in);
    close(out);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    return 127;
  });
}

// Inflates the package's container with zlib into a buffer that is thrown away.
int inflateContainer(const Inputs& inputs) {
  const int fd = open(inputs.package.c_str(), O_RDONLY);
  if (fd < 0) return 1;
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return 1;
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
  return whole ? 0 : 1;
}

// The regular files below directory.
uint64_t countFiles(const std::string& directory) {
  uint64_t count = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error))
    if (it->is_regular_file()) ++count;
  return count;
}

// Whether every file of the tree arrived below root/flash with its bytes.
bool sameTree(const std::string& tree, const std::string& flash) {
  for (const auto& entry : fs::recursive_directory_iterator(tree)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), tree).string();
    std::ifstream a(entry.path(), std::ios::binary), b(flash + "/" + relative, std::ios::binary);
    std::string left((std::istreambuf_iterator<char>(a)), {});
    std::string right((std::istreambuf_iterator<char>(b)), {});
    if (left != right) return false;
  }
  return true;
}

enum Kind { Installer, Floor, Tar, TarSync, kKinds };
constexpr const char* kKindNames[kKinds] = {"installer -r ROOT - <package", "plain zlib inflation",
                                            "tar -xzf", "tar -xzf; sync"};

struct Figures {
  std::vector<double> wall[kKinds], cpu[kKinds];
  long installerPeakRssKb = 0;
};

// One run of kind on a fresh root; false (with a message) when it failed.
bool runOnce(Kind kind, const std::string& directory, const Inputs& inputs, const std::string& name,
             Figures& figures) {
  const std::string root = freshRoot(directory, name);
  const std::string log = directory + "/" + name + ".log";
  if (!dropCaches()) {
    std::fprintf(stderr, "bench_install: cannot drop the page cache\n");
    return false;
  }
  Run run;
  if (kind == Installer) {
    run = timeCommand({INSTALLER_BINARY, "-r", root, "-"}, inputs.package, log);
    figures.installerPeakRssKb = std::max(figures.installerPeakRssKb, run.peakRssKb);
  } else if (kind == Floor) {
    run = timeChild([&] { return inflateContainer(inputs); });
  } else {
    run = timeCommand({"tar", "-xzf", inputs.archive, "-C", root + "/flash"}, "/dev/null", log);
    if (kind == TarSync && run.ok) {
      const Run flush = timeCommand({"sync"}, "/dev/null", log);
      run.wall += flush.wall;
      run.cpu += flush.cpu;
      run.ok = flush.ok;
    }
  }
  if (run.ok && kind != Floor && countFiles(root + "/flash/lib") != inputs.files) run.ok = false;
  if (!run.ok) {
    std::fprintf(stderr, "bench_install: %s failed (output in %s)\n", kKindNames[kind],
                 log.c_str());
    return false;
  }
  figures.wall[kind].push_back(run.wall);
  figures.cpu[kind].push_back(run.cpu);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t largeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  if (geteuid() != 0) {
    std::fprintf(stderr, "bench_install: needs root (drops the page cache)\n");
    return 1;
  }
  bench::ScratchDirectory scratch;
  const uint64_t sizesMiB[] = {20, largeMiB};
  Figures figures[2];
  Inputs inputs[2];
  for (int size = 0; size < 2; ++size) {
    const std::string directory = scratch.path() + "/" + std::to_string(sizesMiB[size]);
    fs::create_directories(directory);
    if (!makeInputs(directory, sizesMiB[size] << 20, inputs[size])) {
      std::fprintf(stderr, "bench_install: cannot build the package or the archive\n");
      return 1;
    }
    struct stat archive {};
    stat(inputs[size].archive.c_str(), &archive);
    std::printf("tree %llu MiB: %llu files, %.1f MiB; file container %.1f MiB; tar.gz %.1f MiB\n",
                static_cast<unsigned long long>(sizesMiB[size]),
                static_cast<unsigned long long>(inputs[size].files),
                inputs[size].treeBytes / 1048576.0, inputs[size].containerLength / 1048576.0,
                archive.st_size / 1048576.0);
    std::fflush(stdout);

    // The small tree shows the memory use and that the files arrive whole.
    const int count = size == 0 ? 1 : rounds;
    for (int round = 0; round < count; ++round)
      for (int kind = 0; kind < kKinds; ++kind) {
        const std::string name = std::to_string(sizesMiB[size]) + "-" + std::to_string(round) +
                                 "-" + std::to_string(kind);
        if (!runOnce(static_cast<Kind>(kind), scratch.path(), inputs[size], name, figures[size]))
          return 1;
        if (size == 0 && kind == Installer &&
            !sameTree(directory + "/tree", scratch.path() + "/roots/" + name + "/flash")) {
          std::fprintf(stderr, "bench_install: the installed files differ from the tree\n");
          return 1;
        }
      }
  }

  const Figures& large = figures[1];
  double wall[kKinds], cpu[kKinds];
  for (int kind = 0; kind < kKinds; ++kind) {
    wall[kind] = bench::median(large.wall[kind]);
    cpu[kind] = bench::median(large.cpu[kind]);
  }
  std::printf("%llu MiB tree, %d rounds, page cache dropped before each run, medians "
              "(wall / processor time):\n",
              static_cast<unsigned long long>(largeMiB), rounds);
  for (int kind = 0; kind < kKinds; ++kind)
    std::printf("  %-30s %7.3f s / %7.3f s\n", kKindNames[kind], wall[kind], cpu[kind]);
  std::printf("ratios of the installer (wall / processor time):\n");
  for (int kind = Floor; kind < kKinds; ++kind)
    std::printf("  installer / %-16s %5.2f / %5.2f%s\n", kKindNames[kind],
                wall[Installer] / wall[kind], cpu[Installer] / cpu[kind],
                kind == TarSync ? "   (goal: wall <= 0.80)" : "");
  for (int size = 0; size < 2; ++size)
    std::printf("peak RSS of the installer, %llu MiB tree: %ld KiB\n",
                static_cast<unsigned long long>(sizesMiB[size]), figures[size].installerPeakRssKb);
  std::printf("removing the scratch roots...\n");
  std::fflush(stdout);
  return 0;
}
