// selectCandidates on the 500 package files of one download directory, against the
// scan that finds them and reads their headers (scanPackageFiles), which every
// upgrade run does first. Both run in this process, alternately; medians and their
// ratio are printed.
//
// The files: 420 packages that each need "system" and two others and sometimes
// provide or conflict with a shared name, 40 older copies of some of them (which
// selection drops), and 40 bundles of 8 members each.
//
// usage: bench_select_candidates [rounds]   (default 21)

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/candidate_selection.h"
#include "pdb/repository.h"
#include "pkgfile/discovery.h"
#include "pkgtool/package_builder.h"
#include "scale/scale_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPackages = 420;
constexpr int kOlderCopies = 40;
constexpr int kBundles = 40;
constexpr int kMembers = 8;
constexpr Version kVersion = 0x062A6600;  // 6.42

std::string packageName(int n) { return "pkg-" + std::to_string(n); }

PackageLayout packageLayout(const std::string& name, Version version, int n) {
  PackageLayout layout;
  layout.meta.name = name;
  layout.meta.version = version;
  layout.meta.buildTime = 1700000000 + static_cast<uint32_t>(n);
  layout.meta.architecture = "i386";
  layout.meta.dependencies = {{"system", 0x062A0000, 0, 0},
                              {packageName((n * 7 + 3) % kPackages), 0, 0, 0},
                              {packageName((n * 13 + 5) % kPackages), 0, 0, 0}};
  if (n % 10 == 0) layout.meta.provides = {{"api-" + std::to_string(n % 30), 1, 0, n % 3 - 1}};
  if (n % 25 == 0) layout.meta.conflicts = {{"api-" + std::to_string((n + 10) % 30), 0, 0, 0}};
  layout.files = {{"bin/" + name, 0100755, "#!/bin/sh\n", 0}};
  layout.signatureLength = 132;
  return layout;
}

void writeCandidates(const fs::path& directory) {
  fs::create_directories(directory);
  for (int n = 0; n < kPackages; ++n)
    bench::writeFile(directory / (packageName(n) + ".zpk"),
                     buildPackageFile(packageLayout(packageName(n), kVersion, n)));
  for (int n = 0; n < kOlderCopies; ++n) {
    const int copy = n * 9 % kPackages;
    bench::writeFile(directory / (packageName(copy) + "-old.zpk"),
                     buildPackageFile(packageLayout(packageName(copy), kVersion - 0x100, copy)));
  }
  for (int b = 0; b < kBundles; ++b) {
    BundleLayout bundle;
    bundle.meta.name = "bundle-" + std::to_string(b);
    bundle.meta.version = kVersion;
    bundle.meta.buildTime = 1700000000;
    bundle.meta.architecture = "i386";
    for (int m = 0; m < kMembers; ++m) {
      const int n = kPackages + b * kMembers + m;
      bundle.members.push_back(
          packageLayout(bundle.meta.name + "-m" + std::to_string(m), kVersion, n));
    }
    bench::writeFile(directory / (bundle.meta.name + ".zpk"), buildBundleFile(bundle));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 21;
  bench::ScratchDirectory scratch;
  const std::string directory = scratch.path() + "/download/";
  writeCandidates(directory);

  Repository repository;
  repository.quiet = true;
  std::vector<std::unique_ptr<PackageFile>> found;
  scanPackageFiles(directory, found);
  std::vector<PackageFile*> candidatesList;
  for (const auto& record : found) candidatesList.push_back(record.get());
  const size_t candidates = candidatesList.size();
  size_t kept = 0;

  std::vector<double> selectTimes, scanTimes;
  for (int round = 0; round < rounds; ++round) {
    // Alternate which one goes first, so neither always runs on a warmer cache.
    for (int turn = 0; turn < 2; ++turn) {
      bench::Timer time;
      if ((turn == 0) == (round % 2 == 0)) {
        std::vector<PackageFile*> list = candidatesList;
        time.start();
        selectCandidates(repository, list, kNoFloor, true);
        time.stop();
        kept = list.size();
        selectTimes.push_back(time.wall * 1000);
      } else {
        std::vector<std::unique_ptr<PackageFile>> again;
        time.start();
        scanPackageFiles(directory, again);
        time.stop();
        scanTimes.push_back(time.wall * 1000);
      }
    }
  }

  if (candidates != kPackages + kOlderCopies + kBundles || kept != kPackages + kBundles) {
    fprintf(stderr, "found %zu candidates and kept %zu\n", candidates, kept);
    return 1;
  }
  printf("candidates: %zu files (%d packages, %d older copies, %d bundles of %d); %zu kept\n",
         candidates, kPackages, kOlderCopies, kBundles, kMembers, kept);
  printf("rounds: %d\n", rounds);
  bench::printMedians("selectCandidates", selectTimes, "scanPackageFiles", scanTimes, 1);
  return 0;
}
