// Upgrade run benchmark. Lays the package files in ROOT/rw/pckg/.download/ of a
// fresh router root and runs "installer -r ROOT" (no mode option: discovery,
// installs, one change set applied with a sync before and after the renames, the
// hand-off to /bin/vemo, which fails in this root, and /flash/postlog) for two
// workloads:
//   (a) one package holding the 200 MiB tree of bench_install (about 2,000 files);
//   (b) 50 packages of 2 MiB, 20 files each, every package below lib/<name>/.
// Side by side with it, alternately, each on a fresh root and after the page cache
// was dropped:
//   - plain zlib inflation of the packages' file containers in one process, writing
//     nothing: the floor of any install of them;
//   - tar -xzf of the same trees as gzip level-6 archives into ROOT/flash, one call
//     a package, as it is and followed by sync (the installer makes its data durable
//     before it returns, tar does not);
//   - dpkg-deb -x of the same trees packed by dpkg-deb --build (minimal control
//     file, data.tar with gzip level 6 like the archives), one call a package, as
//     it is and followed by sync.
// Prints the medians, every ratio of the installer and its peak resident set. Then
// the discovery scan alone (scanPackageFiles over the download directory, run in
// this process) with the page cache dropped and with the files cached, beside a
// plain read of the whole package files: the installs read every file whole after
// the scan, so these say what the scan adds to a run and what one more read of the
// files costs, from the disk and from the page cache.
//
// Old roots are removed only at the end: right after a large tree is deleted the
// file system creates files slowly for half a minute, which would be measured
// instead of the commands.
//
// usage: bench_upgrade [rounds]   (default 5; must run as root)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_bench_support.h"
#include "pkgfile/bench_support.h"
#include "pkgfile/discovery.h"
#include "platform/file_handles.h"

namespace fs = std::filesystem;

namespace {

using bench::TreePackage;

constexpr uint64_t kLargeTree = uint64_t{200} << 20;
constexpr int kSmallPackages = 50;
constexpr int kSmallPackageFiles = 20;
constexpr uint64_t kSmallPackageBytes = uint64_t{2} << 20;
constexpr char kDownload[] = "/rw/pckg/.download";

enum Kind { Installer, Floor, Tar, TarSync, Dpkg, DpkgSync, kKinds };
constexpr const char* kKindNames[kKinds] = {"installer -r ROOT", "plain zlib inflation",
                                            "tar -xzf",          "tar -xzf; sync",
                                            "dpkg-deb -x",       "dpkg-deb -x; sync"};

struct Workload {
  const char* title;
  std::string key;  // names its directory and roots
  std::vector<TreePackage> packages;
  uint64_t files = 0;
  bench::Samples samples[kKinds];
  long installerPeakRssKb = 0;
  // The discovery scan alone and a plain read of the package files.
  bench::Samples scanCold, scanWarm, readCold, readWarm;
};

void namePackage(TreePackage& inputs, const std::string& directory, const std::string& name) {
  inputs.name = name;
  inputs.tree = directory + "/" + name;
  inputs.package = directory + "/" + name + ".zpk";
  inputs.archive = directory + "/" + name + ".tar.gz";
  inputs.deb = directory + "/" + name + ".deb";
}

// (a): the tree of bench_install.
bool writeLargePackage(const SigningKeys& secrets, const TreePackage& inputs) {
  PackageLayout layout = bench::packageLayout(inputs.name);
  bench::addTreeFiles(layout, kLargeTree);
  return bench::writeTreePackage(layout, secrets, inputs);
}

// (b): sizes drawn as for the large tree, then scaled so that each package holds
// exactly 2 MiB.
bool writeSmallPackages(const SigningKeys& secrets, const std::vector<TreePackage>& packages) {
  bench::Generator random(0x9E3779B97F4A7C15ull);
  for (const TreePackage& inputs : packages) {
    std::vector<double> drawn;
    double sum = 0;
    for (int n = 0; n < kSmallPackageFiles; ++n) {
      drawn.push_back(static_cast<double>(bench::drawFileSize(random)));
      sum += drawn.back();
    }
    PackageLayout layout = bench::packageLayout(inputs.name);
    uint64_t total = 0;
    for (size_t n = 0; n < drawn.size(); ++n) {
      const size_t size =
          n + 1 < drawn.size()
              ? static_cast<size_t>(drawn[n] * static_cast<double>(kSmallPackageBytes) / sum)
              : static_cast<size_t>(kSmallPackageBytes - total);
      const std::string name = "lib/" + inputs.name + "/f" + std::to_string(n);
      layout.files.push_back(bench::makeFile(random, name, size, n));
      total += size;
    }
    if (!bench::writeTreePackage(layout, secrets, inputs)) return false;
  }
  return true;
}

// Generates the trees and packages in a child of its own, so that the trees held
// in memory never count against the measuring process, then the archives and .debs.
bool makeInputs(const std::string& directory, Workload& workload) {
  fs::create_directories(directory);
  if (workload.key == "a") {
    workload.packages.resize(1);
    namePackage(workload.packages[0], directory, "bulk");
  } else {
    workload.packages.resize(kSmallPackages);
    for (int n = 0; n < kSmallPackages; ++n) {
      char name[16];
      std::snprintf(name, sizeof name, "addon%02d", n + 1);
      namePackage(workload.packages[n], directory, name);
    }
  }
  const bench::Sample made = bench::measureInChild([&](bench::Timer&, unsigned long long&) {
    SigningKeys secrets;
    if (!bench::readBenchSigningKeys(secrets)) return false;
    return workload.key == "a" ? writeLargePackage(secrets, workload.packages[0])
                               : writeSmallPackages(secrets, workload.packages);
  });
  if (!made.ok) return false;
  for (TreePackage& inputs : workload.packages) {
    if (!bench::loadFacts(inputs) || !bench::makeArchive(inputs) || !bench::makeDeb(inputs))
      return false;
    workload.files += inputs.files;
  }
  return true;
}

uint64_t fileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

void describe(const Workload& workload) {
  uint64_t tree = 0, container = 0, packages = 0, archives = 0, debs = 0;
  for (const TreePackage& inputs : workload.packages) {
    tree += inputs.treeBytes;
    container += inputs.containerLength;
    packages += fileSize(inputs.package);
    archives += fileSize(inputs.archive);
    debs += fileSize(inputs.deb);
  }
  std::printf("%s: %llu files, %.1f MiB; file containers %.1f MiB in %.1f MiB of package files; "
              "tar.gz %.1f MiB; .deb %.1f MiB\n",
              workload.title, static_cast<unsigned long long>(workload.files), tree / 1048576.0,
              container / 1048576.0, packages / 1048576.0, archives / 1048576.0, debs / 1048576.0);
  std::fflush(stdout);
}

// A fresh root with the package files linked into its download directory.
std::string rootWithDownloads(const std::string& directory, const std::string& name,
                              const Workload& workload) {
  const std::string root = bench::freshRoot(directory, name, {kDownload});
  for (const TreePackage& inputs : workload.packages) {
    const std::string link = root + kDownload + "/" + inputs.name + ".zpk";
    if (::link(inputs.package.c_str(), link.c_str()) != 0) return "";
  }
  return root;
}

// One call of the peer's command for every package.
std::vector<bench::Command> peerCommands(Kind kind, const Workload& workload,
                                         const std::string& flash) {
  std::vector<bench::Command> commands;
  for (const TreePackage& inputs : workload.packages) {
    if (kind == Tar || kind == TarSync)
      commands.push_back({"tar", "-xzf", inputs.archive, "-C", flash});
    else
      commands.push_back({"dpkg-deb", "-x", inputs.deb, flash});
  }
  return commands;
}

// One run of kind on a fresh root; false (with a message) when it failed.
bool runOnce(Kind kind, const std::string& directory, Workload& workload,
             const std::string& name) {
  const std::string root = rootWithDownloads(directory, name, workload);
  const std::string log = directory + "/" + name + ".log";
  if (root.empty()) {
    std::fprintf(stderr, "bench_upgrade: cannot lay out the root %s\n", name.c_str());
    return false;
  }
  if (!bench::dropCaches()) {
    std::fprintf(stderr, "bench_upgrade: cannot drop the page cache\n");
    return false;
  }
  bench::Run run;
  if (kind == Installer) {
    run = bench::timeCommand({INSTALLER_BINARY, "-r", root}, "/dev/null", log);
    workload.installerPeakRssKb = std::max(workload.installerPeakRssKb, run.peakRssKb);
  } else if (kind == Floor) {
    run = bench::timeChild([&] {
      for (const TreePackage& inputs : workload.packages)
        if (!bench::inflateContainer(inputs)) return 1;
      return 0;
    });
  } else {
    run = bench::timeCommands(peerCommands(kind, workload, root + "/flash"), "/dev/null", log);
    if (kind == TarSync || kind == DpkgSync) bench::appendSync(run, log);
  }
  const bool delivered =
      kind == Floor || bench::countFiles(root + "/flash/lib") == workload.files;
  return bench::keepRun("bench_upgrade", kKindNames[kind], run, delivered, log,
                        workload.samples[kind]);
}

// Reads every package file of the download directory whole, 1 MiB at a time.
bool readDownloads(const std::string& root, const Workload& workload) {
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  for (const TreePackage& inputs : workload.packages) {
    const FileDescriptor file(open((root + kDownload + "/" + inputs.name + ".zpk").c_str(),
                                   O_RDONLY));
    if (!file.valid()) return false;
    while (const ssize_t got = read(file.get(), buffer.get(), 1 << 20))
      if (got < 0) return false;
  }
  return true;
}

// The discovery scan alone and a plain read of the package files, each with the
// page cache dropped and then again with the files in it.
bool measureDiscovery(const std::string& directory, Workload& workload, int round) {
  const std::string root =
      rootWithDownloads(directory, "scan-" + workload.key + "-" + std::to_string(round), workload);
  if (root.empty() || !bench::dropCaches()) return false;
  const size_t expected = workload.packages.size();
  auto scan = [&] {
    std::vector<std::unique_ptr<PackageFile>> found;
    scanPackageFiles(root + kDownload + "/", found);
    return found.size() == expected ? 0 : 1;
  };
  const bench::Run cold = bench::timeChild(scan);
  const bench::Run warm = bench::timeChild(scan);
  if (!bench::dropCaches()) return false;
  auto readFiles = [&] { return readDownloads(root, workload) ? 0 : 1; };
  const bench::Run readCold = bench::timeChild(readFiles);
  const bench::Run readWarm = bench::timeChild(readFiles);
  if (!cold.ok || !warm.ok || !readCold.ok || !readWarm.ok) return false;
  const std::pair<const bench::Run*, bench::Samples*> figures[] = {
      {&cold, &workload.scanCold},
      {&warm, &workload.scanWarm},
      {&readCold, &workload.readCold},
      {&readWarm, &workload.readWarm}};
  for (const auto& [run, samples] : figures) {
    samples->wall.push_back(run->wall);
    samples->cpu.push_back(run->cpu);
  }
  return true;
}

void report(const Workload& workload, int rounds, const char* goal) {
  std::printf("\n%s, %d rounds, page cache dropped before each run, medians "
              "(wall / processor time):\n",
              workload.title, rounds);
  double wall[kKinds], cpu[kKinds];
  bench::printMedians(kKindNames, workload.samples, kKinds, wall, cpu);
  std::printf("ratios of the installer (wall / processor time):\n");
  for (int kind = Floor; kind < kKinds; ++kind)
    bench::printRatio("installer", kKindNames[kind], wall[Installer] / wall[kind],
                      cpu[Installer] / cpu[kind], kind == TarSync ? goal : "", 20);
  std::printf("peak RSS of the installer: %ld KiB\n", workload.installerPeakRssKb);
  const double scanWall = bench::median(workload.scanCold.wall);
  const double scanCpu = bench::median(workload.scanCold.cpu);
  std::printf("discovery scan alone, page cache dropped: %.3f s / %.3f s (%.1f %% / %.1f %% of "
              "the installer's run)\n",
              scanWall, scanCpu, 100 * scanWall / wall[Installer], 100 * scanCpu / cpu[Installer]);
  std::printf("discovery scan alone, files cached:       %.3f s / %.3f s\n",
              bench::median(workload.scanWarm.wall), bench::median(workload.scanWarm.cpu));
  std::printf("reading the package files whole, page cache dropped: %.3f s / %.3f s; files "
              "cached: %.3f s / %.3f s\n",
              bench::median(workload.readCold.wall), bench::median(workload.readCold.cpu),
              bench::median(workload.readWarm.wall), bench::median(workload.readWarm.cpu));
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (geteuid() != 0) {
    std::fprintf(stderr, "bench_upgrade: needs root (drops the page cache)\n");
    return 1;
  }
  bench::ScratchDirectory scratch;
  Workload workloads[2];
  workloads[0].title = "(a) one package of the 200 MiB tree";
  workloads[0].key = "a";
  workloads[1].title = "(b) 50 packages of 2 MiB, one peer call a package";
  workloads[1].key = "b";
  for (Workload& workload : workloads) {
    if (!makeInputs(scratch.path() + "/" + workload.key, workload)) {
      std::fprintf(stderr, "bench_upgrade: cannot build the packages, archives or .debs\n");
      return 1;
    }
    describe(workload);
  }

  for (Workload& workload : workloads) {
    for (int round = 0; round < rounds; ++round)
      for (int kind = 0; kind < kKinds; ++kind) {
        const std::string name =
            workload.key + "-" + std::to_string(round) + "-" + std::to_string(kind);
        if (!runOnce(static_cast<Kind>(kind), scratch.path(), workload, name)) return 1;
        // The first run shows that the files arrive whole.
        if (round != 0 || kind != Installer) continue;
        for (const TreePackage& inputs : workload.packages)
          if (!bench::sameTree(inputs.tree + "/lib",
                               scratch.path() + "/roots/" + name + "/flash/lib")) {
            std::fprintf(stderr, "bench_upgrade: the installed files differ from the tree\n");
            return 1;
          }
      }
    for (int round = 0; round < rounds; ++round)
      if (!measureDiscovery(scratch.path(), workload, round)) {
        std::fprintf(stderr, "bench_upgrade: the discovery scan failed\n");
        return 1;
      }
  }

  report(workloads[0], rounds, "   (goal: wall <= 0.70)");
  report(workloads[1], rounds, "   (goal: wall <= 0.60)");
  std::printf("removing the scratch roots...\n");
  std::fflush(stdout);
  return 0;
}
