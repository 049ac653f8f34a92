#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "model/version.h"
#include "pkgtool/tree_changes.h"

// A dry run of the upgrade: the real installer runs its upgrade ("installer -r VIEW"
// with no mode option) on a throw-away overlay view of a router root (see
// overlay_view.h), and what it did is read back from the view.

// One installed package as the installer's loader sees it.
struct PackageState {
  std::string name;
  Version version = 0;
  uint32_t buildTime = 0;
  bool disabled = false;
  std::string bundle;  // empty: not from a bundle
};

// A volume as the installer's disk check sees it: "/flash" or "/flash/boot".
struct VolumeState {
  std::string path;
  bool examined = false;   // statfs succeeded
  uint64_t freeBytes = 0;  // free blocks times the block size
  dev_t device = 0;
};

struct RootState {
  std::vector<PackageState> packages;  // in the loader's order
  std::vector<VolumeState> volumes;    // "/flash", then "/flash/boot"
};

struct DryRunRequest {
  std::string root;                   // absolute, without symbolic links
  std::string scratch;                // an empty directory that holds the view
  std::string installer;              // the installer program to run
  std::vector<std::string> packages;  // package files to offer; none: those already waiting
};

struct DryRunResult {
  int status = 0;                    // the installer's exit status
  std::vector<std::string> console;  // its lines, standard output and error as they came
  RootState before;                  // the root
  RootState after;                   // the view after the run
  FileChanges files;
  // Bytes the view's volumes were given beyond the free space below them, by device
  // (see ViewLayer::headroom).
  std::map<dev_t, uint64_t> headroom;
};

// Called with each line the installer prints, as it comes; error: on standard error.
using ConsoleLineSink = std::function<void(const std::string& line, bool error)>;

// Runs the dry run. The calling process enters a mount namespace of its own and
// keeps it: call this in a child process that ends afterwards. ExitOk with result
// filled, ExitUsage when the view cannot be laid (no rights for it), ExitFailed when
// the installer or the loader cannot be run; problem says why.
int dryRun(const DryRunRequest& request, const ConsoleLineSink& sink, DryRunResult& result,
           std::string& problem);

// The name a package file gets in the view's download directory: its own, with
// ".zpk" added unless it ends in ".zpk" or ".wpk", which the installer looks for.
std::string offeredName(const std::string& path);
