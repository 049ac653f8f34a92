// An upgrade run with nothing to install ("installer -r ROOT", empty download
// directories) on a router root with 2,000 installed packages chained by their
// dependencies, against "--show" on the same root.
//
// Every package of the chain is a database directory (version, deps, files) and
// needs "system" (one more package, needed by all) and the next link of the chain.
// The last link is disabled by the user and has the schedule word "uninstall":
// the schedule refuses the uninstall, since the link before needs it, but the link
// stays disabled, so every package of the chain loses its requirement in turn and
// is disabled. The chain runs against the order in which the installer loads the
// directories (read back from each root), so that a scan of the installed set in
// array order finds one more package to disable per scan: the worst case for the
// pass that withdraws packages whose requirements vanish.
//
// The run changes state files, so each run gets a fresh root; the data of the
// roots is synced before the timings, so that the run's own syncs write only what
// the run wrote. Old roots are removed only at the end: for a while after many
// files are deleted the file system creates files slowly, and that would be
// measured instead of the run. The two commands run alternately; medians and their
// ratio are printed.
//
// Most of the run's time on this machine's disk goes into creating the 2,000 new
// "disabled" state files; with "tmpfs" the roots lie on a tmpfs mounted for the
// run, which leaves the disk out of the figures.
//
// usage: bench_schedule_chain [packages [rounds [tmpfs]]]   (defaults 2000 and 11;
//        run as root)

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "scale/scale_support.h"

namespace fs = std::filesystem;

namespace {

constexpr char kVersion[] = "103441920";  // 6.42
constexpr int kFilesPerPackage = 10;

std::string databaseDirectory(const fs::path& root, const std::string& name) {
  return (root / "flash/var/pdb" / name).string();
}

void writePackage(const fs::path& root, const std::string& name, int n) {
  const fs::path dir = databaseDirectory(root, name);
  bench::writeFile(dir / "version", std::string(kVersion) + " " +
                                        std::to_string(1700000000 + n) + "\n");
  std::string files;
  for (int f = 0; f < kFilesPerPackage; ++f)
    files += "flash/lib/" + name + "/part-" + std::to_string(f) + "\n";
  bench::writeFile(dir / "files", files);
}

// Lays out the root; returns the name of the chain's last link.
std::string layOutRoot(const fs::path& root, int packages) {
  for (const char* directory :
       {"flash/var/pdb", "flash/rw/pckg", "flash/var/pckg", "ram", "rw/pckg/.download"})
    fs::create_directories(root / directory);
  writePackage(root, "system", 0);
  for (int n = 0; n < packages; ++n) {
    char name[32];
    snprintf(name, sizeof name, "node-%04d", n);
    writePackage(root, name, n + 1);
  }

  // The chain follows the load order: each link needs the one loaded after it.
  std::vector<std::string> chain;
  for (const std::string& name : bench::directoryOrder(databaseDirectory(root, "")))
    if (name != "system") chain.push_back(name);
  for (size_t i = 0; i < chain.size(); ++i) {
    std::string deps = std::string("system ") + kVersion + " 0\n";
    if (i + 1 < chain.size()) deps += chain[i + 1] + " 0 0\n";
    bench::writeFile(fs::path(databaseDirectory(root, chain[i])) / "deps", deps);
  }
  const std::string& last = chain.back();
  bench::writeFile(fs::path(databaseDirectory(root, last)) / "disabled", "user\n");
  bench::writeFile(root / "ram/pdb" / last / "schedule", "uninstall\n");
  return last;
}

long countText(const std::string& text, const std::string& piece) {
  long count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
    ++count;
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  const int packages = argc > 1 ? std::max(2, atoi(argv[1])) : 2000;
  const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 11;
  const bool onTmpfs = argc > 3 && strcmp(argv[3], "tmpfs") == 0;
  bench::ScratchDirectory scratch;
  const fs::path base = scratch.path();
  const bench::TmpfsMount tmpfs(onTmpfs ? base.string() : "");
  if (onTmpfs && !tmpfs.mounted()) {
    perror("mount tmpfs");
    return 1;
  }
  const std::string output = (base / "output").string();

  std::vector<double> runTimes, showTimes;
  for (int round = 0; round < rounds; ++round) {
    const fs::path runRoot = base / ("run-" + std::to_string(round));
    const fs::path showRoot = base / ("show-" + std::to_string(round));
    const std::string last = layOutRoot(runRoot, packages);
    layOutRoot(showRoot, packages);
    sync();

    const std::vector<std::string> run = {INSTALLER_BINARY, "-r", runRoot.string()};
    const std::vector<std::string> show = {INSTALLER_BINARY, "-r", showRoot.string(), "--show"};
    // Alternate which command goes first, so neither always runs on a warmer cache.
    for (int turn = 0; turn < 2; ++turn) {
      const bool isRun = (turn == 0) == (round % 2 == 0);
      const double ms = bench::timeCommand(isRun ? run : show, output);
      if (ms < 0) {
        fprintf(stderr, "%s failed:\n%s", isRun ? "installer -r ROOT" : "installer --show",
                bench::readWhole(output).c_str());
        return 1;
      }
      (isRun ? runTimes : showTimes).push_back(ms);
      // Each run must have done the whole work before its time means anything.
      const std::string text = bench::readWhole(output);
      if (isRun) {
        const long disabled = countText(text, "disabled node-");
        const bool refused =
            text.find("WARNING: can not uninstall " + last + "-6.42") != std::string::npos;
        if (!refused || disabled != packages - 1) {
          fprintf(stderr, "the run disabled %ld packages, not %d:\n%s", disabled, packages - 1,
                  text.c_str());
          return 1;
        }
      } else if (countText(text, "\n") != packages + 3) {
        fprintf(stderr, "the listing has %ld lines\n", countText(text, "\n"));
        return 1;
      }
    }
  }

  printf("packages: %d in a chain, and system; %d files each; roots on %s\n", packages,
         kFilesPerPackage, onTmpfs ? "a tmpfs" : "/tmp");
  printf("rounds: %d\n", rounds);
  bench::printMedians("installer -r ROOT", runTimes, "installer -r ROOT --show", showTimes, 3);
  return 0;
}
