// "--show" on a router root with 20,000 installed packages, each a database
// directory (version, deps, provides for every tenth, files), against the floor
// of reading every database file once: find(1) handing them to cat in batches.
// Loading used to look each directory entry up in the installed set by a linear
// search, so its time grew with the square of the number of packages; run with
// 40000 to see that it now grows in step with it.
//
// usage: bench_show_large [packages [rounds]]   (defaults 20000 and 7; run as root)

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "scale/scale_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFilesPerPackage = 10;

void layOutRoot(const fs::path& root, int packages) {
  for (const char* directory : {"flash/var/pdb", "ram", "rw"}) fs::create_directories(root / directory);
  for (int n = 0; n < packages; ++n) {
    char name[32];
    snprintf(name, sizeof name, "pkg-%05d", n);
    const fs::path dir = root / "flash/var/pdb" / name;
    bench::writeFile(dir / "version", "103441920 " + std::to_string(1700000000 + n) + "\n");
    char next[32];
    snprintf(next, sizeof next, "pkg-%05d", (n + 1) % packages);
    bench::writeFile(dir / "deps", std::string("system 103415808 0\n") + next + " 0 0\n");
    if (n % 10 == 0) bench::writeFile(dir / "provides", std::string(name) + "-api 1 0 -1\n");
    std::string files;
    for (int f = 0; f < kFilesPerPackage; ++f)
      files += "flash/lib/" + std::string(name) + "/part-" + std::to_string(f) + "\n";
    bench::writeFile(dir / "files", files);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int packages = argc > 1 ? std::max(1, atoi(argv[1])) : 20000;
  const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 7;
  bench::ScratchDirectory scratch;
  const fs::path root = fs::path(scratch.path()) / "root";
  layOutRoot(root, packages);
  sync();
  const std::string output = scratch.path() + "/output";

  const std::vector<std::string> show = {INSTALLER_BINARY, "-r", root.string(), "--show"};
  const std::vector<std::string> readAll = {"/usr/bin/find", (root / "flash/var/pdb").string(),
                                            "-type", "f", "-exec", "cat", "{}", "+"};
  std::vector<double> showTimes, readTimes;
  for (int round = 0; round < rounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool isShow = (turn == 0) == (round % 2 == 0);
      const double ms = bench::timeCommand(isShow ? show : readAll, output);
      if (ms < 0) {
        fprintf(stderr, "%s failed\n", isShow ? "installer --show" : "find | cat");
        return 1;
      }
      // The listing must hold every package before its time means anything.
      if (isShow && bench::countLines(bench::readWhole(output), "pkg-") != packages) {
        fprintf(stderr, "the listing does not hold %d packages\n", packages);
        return 1;
      }
      (isShow ? showTimes : readTimes).push_back(ms);
    }
  }

  printf("packages: %d database directories, %d installed files each\n", packages,
         kFilesPerPackage);
  printf("rounds: %d\n", rounds);
  bench::printMedians("installer --show", showTimes, "find -exec cat (every file)", readTimes,
                      3);
  return 0;
}
