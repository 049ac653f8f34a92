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

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "engine/engine_bench_support.h"
#include "pkgfile/bench_support.h"

namespace fs = std::filesystem;

namespace {

using bench::TreePackage;

// Writes the tree below directory/tree, the signed package and the archive. Runs in
// a child of its own, so that the tree held in memory never counts against the
// measuring process.
bool makeInputs(const std::string& directory, uint64_t treeBytes, TreePackage& inputs) {
  inputs.name = "bulk";
  inputs.tree = directory + "/tree";
  inputs.package = directory + "/bulk.zpk";
  inputs.archive = directory + "/tree.tar.gz";
  const bench::Sample made = bench::measureInChild([&](bench::Timer&, unsigned long long&) {
    SigningKeys secrets;
    if (!bench::readBenchSigningKeys(secrets)) return false;
    PackageLayout layout = bench::packageLayout(inputs.name);
    bench::addTreeFiles(layout, treeBytes);
    return bench::writeTreePackage(layout, secrets, inputs);
  });
  return made.ok && bench::loadFacts(inputs) && bench::makeArchive(inputs);
}

enum Kind { Installer, Floor, Tar, TarSync, kKinds };
constexpr const char* kKindNames[kKinds] = {"installer -r ROOT - <package", "plain zlib inflation",
                                            "tar -xzf", "tar -xzf; sync"};

struct Figures {
  bench::Samples samples[kKinds];
  long installerPeakRssKb = 0;
};

// One run of kind on a fresh root; false (with a message) when it failed.
bool runOnce(Kind kind, const std::string& directory, const TreePackage& inputs,
             const std::string& name, Figures& figures) {
  const std::string root = bench::freshRoot(directory, name);
  const std::string log = directory + "/" + name + ".log";
  if (!bench::dropCaches()) {
    std::fprintf(stderr, "bench_install: cannot drop the page cache\n");
    return false;
  }
  bench::Run run;
  if (kind == Installer) {
    run = bench::timeCommand({INSTALLER_BINARY, "-r", root, "-"}, inputs.package, log);
    figures.installerPeakRssKb = std::max(figures.installerPeakRssKb, run.peakRssKb);
  } else if (kind == Floor) {
    run = bench::timeChild([&] { return bench::inflateContainer(inputs) ? 0 : 1; });
  } else {
    run = bench::timeCommand({"tar", "-xzf", inputs.archive, "-C", root + "/flash"}, "/dev/null",
                             log);
    if (kind == TarSync) bench::appendSync(run, log);
  }
  const bool delivered =
      kind == Floor || bench::countFiles(root + "/flash/lib") == inputs.files;
  return bench::keepRun("bench_install", kKindNames[kind], run, delivered, log,
                        figures.samples[kind]);
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
  TreePackage inputs[2];
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
            !bench::sameTree(inputs[size].tree + "/lib",
                             scratch.path() + "/roots/" + name + "/flash/lib")) {
          std::fprintf(stderr, "bench_install: the installed files differ from the tree\n");
          return 1;
        }
      }
  }

  const Figures& large = figures[1];
  std::printf("%llu MiB tree, %d rounds, page cache dropped before each run, medians "
              "(wall / processor time):\n",
              static_cast<unsigned long long>(largeMiB), rounds);
  double wall[kKinds], cpu[kKinds];
  bench::printMedians(kKindNames, large.samples, kKinds, wall, cpu);
  std::printf("ratios of the installer (wall / processor time):\n");
  for (int kind = Floor; kind < kKinds; ++kind)
    bench::printRatio("installer", kKindNames[kind], wall[Installer] / wall[kind],
                      cpu[Installer] / cpu[kind], kind == TarSync ? "   (goal: wall <= 0.80)" : "");
  for (int size = 0; size < 2; ++size)
    std::printf("peak RSS of the installer, %llu MiB tree: %ld KiB\n",
                static_cast<unsigned long long>(sizesMiB[size]), figures[size].installerPeakRssKb);
  std::printf("removing the scratch roots...\n");
  std::fflush(stdout);
  return 0;
}
