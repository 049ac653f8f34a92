// "--show" on a router root with 2,000 installed packages, against the floor of
// reading every database file once with cat. Half of the packages are kept images
// (single packages with an opaque payload), half are database directories with 50
// installed files each. The two commands run alternately; the medians and their
// ratio are printed.
//
// Usage: bench_show [rounds]   (default 21; needs root for the installer's chroot)

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pkgtool/package_builder.h"
#include "scale/scale_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kImagePackages = 1000;
constexpr int kDirectoryPackages = 1000;
constexpr int kFilesPerPackage = 50;

void writeFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string numbered(const char* prefix, int n) {
  char text[32];
  snprintf(text, sizeof text, "%s%04d", prefix, n);
  return text;
}

// An image like one the installer keeps: header parts, a 4 KiB opaque payload, a
// file container of 50 small files and a signature part.
std::string imageFile(const std::string& name, int n) {
  PackageLayout layout;
  layout.meta.name = name;
  layout.meta.version = 0x062A6600 + static_cast<uint32_t>(n % 7);
  layout.meta.buildTime = 1700000000 + static_cast<uint32_t>(n);
  layout.meta.note = "kept image " + std::to_string(n);
  layout.meta.dependencies = {{"system", 0x062A0000, 0, 0}};
  layout.hasPayload = true;
  for (int i = 0; i < 4096; ++i) layout.payload.push_back(static_cast<char>((i * 131 + n) & 0xFF));
  for (int f = 0; f < kFilesPerPackage; ++f)
    layout.files.push_back({"lib/" + name + "/part-" + std::to_string(f), 0100644,
                          "content of file " + std::to_string(f) + " of " + name, 0});
  layout.signatureLength = 132;
  return buildPackageFile(layout);
}

void layOutRoot(const fs::path& root) {
  for (const char* directory : {"flash/var/pdb", "ram", "rw"}) fs::create_directories(root / directory);
  const fs::path pdb = root / "flash/var/pdb";
  for (int n = 0; n < kImagePackages; ++n) {
    const std::string name = numbered("img-", n);
    writeFile(pdb / name / "image", imageFile(name, n));
    if (n % 5 == 0) writeFile(pdb / name / "disabled", "user\n");
  }
  for (int n = 0; n < kDirectoryPackages; ++n) {
    const std::string name = numbered("pkg-", n);
    const fs::path dir = pdb / name;
    writeFile(dir / "version", std::to_string(0x062A6600 + n % 7) + " " +
                                   std::to_string(1700000000 + n) + "\n");
    writeFile(dir / "deps", "system 103415808 0\n" + numbered("pkg-", (n + 1) % 1000) + " 0 0\n");
    if (n % 10 == 0) writeFile(dir / "provides", name + "-api 1 0 -1\n");
    if (n % 4 == 0) writeFile(dir / "bundle", "core\n");
    std::string files;
    for (int f = 0; f < kFilesPerPackage; ++f)
      files += "flash/lib/" + name + "/part-" + std::to_string(f) + "\n";
    writeFile(dir / "files", files);
    if (n % 3 == 0) writeFile(dir / "enabled", "user\n");
  }
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 21;
  char pattern[] = "/tmp/bench-show-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    perror("mkdtemp");
    return 1;
  }
  const fs::path root = pattern;
  layOutRoot(root);

  std::vector<std::string> show = {INSTALLER_BINARY, "-r", root.string(), "--show"};
  std::vector<std::string> cat = {"/bin/cat"};
  uintmax_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root / "flash/var/pdb")) {
    if (!entry.is_regular_file()) continue;
    cat.push_back(entry.path().string());
    bytes += entry.file_size();
  }

  // The listing must hold every package before its time means anything.
  const std::string listing = (root / "listing").string();
  if (bench::timeCommand(show, listing) < 0) {
    fprintf(stderr, "installer --show failed\n");
    return 1;
  }
  std::ifstream in(listing);
  const long lines = std::count(std::istreambuf_iterator<char>(in), {}, '\n');
  if (lines != 2 + kImagePackages + kDirectoryPackages) {
    fprintf(stderr, "listing has %ld lines\n", lines);
    return 1;
  }

  std::vector<double> showTimes, catTimes;
  for (int round = 0; round < rounds; ++round) {
    // Alternate which command goes first, so neither always runs on a warmer cache.
    const bool showFirst = round % 2 == 0;
    for (int turn = 0; turn < 2; ++turn) {
      const bool isShow = (turn == 0) == showFirst;
      const double ms = bench::timeCommand(isShow ? show : cat, "/dev/null");
      if (ms < 0) {
        fprintf(stderr, "%s failed\n", isShow ? "installer --show" : "cat");
        return 1;
      }
      (isShow ? showTimes : catTimes).push_back(ms);
    }
  }

  const double showMedian = median(showTimes);
  const double catMedian = median(catTimes);
  printf("packages: %d (%d images, %d directories with %d files each)\n",
         kImagePackages + kDirectoryPackages, kImagePackages, kDirectoryPackages,
         kFilesPerPackage);
  printf("database: %zu files, %ju bytes\n", cat.size() - 1, bytes);
  printf("rounds: %d\n", rounds);
  printf("installer --show  median %8.2f ms\n", showMedian);
  printf("cat of every file median %8.2f ms\n", catMedian);
  printf("ratio %.2f (aim: at most 3)\n", showMedian / catMedian);

  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
