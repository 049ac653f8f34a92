#pragma once

// What the fault tests share: a small package in two versions, scratch roots whose
// flash is a tmpfs of its own, runs of the installer with a fault injected by the
// interposer library, and the flash tree as a map to compare against.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/scratch_root.h"

namespace faults {

constexpr char kNoMount[] = "mounting a tmpfs is not allowed here";

// hello 6.42 and hello 6.43. Eight files are in both, of other lengths in each
// (bin/a to bin/g, and www/index.html, which sorts after the database entry), one
// only in the older (etc/gone) and one only in the newer (etc/added); every file
// holds about 6000 incompressible bytes, two blocks of a tmpfs.
const std::string& olderHello();
const std::string& newerHello();

// size bytes that deflate cannot shrink, different for every seed.
std::string noise(uint32_t seed, size_t size);

// Makes root's flash, ram and rw hold what base's hold (the packages installed
// there, a file offered), with the flash a tmpfs (mounted on first use) left with
// flashBlocks blocks of 4096 bytes, or 1 MiB, free; "/ram" becomes a tmpfs with
// ramBlocks blocks free, or stays an ordinary directory (once a tmpfs, it stays
// one). What an earlier run left goes. False when mounting is not allowed.
constexpr unsigned long kNoLimit = ~0ul;
bool resetRoot(ScratchRoot& root, const ScratchRoot& base, unsigned long flashBlocks = kNoLimit,
               unsigned long ramBlocks = kNoLimit);

// Installs every file through "installer -" and removes the change marker and log.
void installAll(const ScratchRoot& root, const std::vector<std::string>& files);

// What the interposer does, see fault_interposer.cc.
struct Fault {
  std::string calls;          // FAULT_CALLS, empty: none
  unsigned long at = 0;       // FAULT_AT
  std::string error = "";     // FAULT_ERROR: a number, or "kill"
  bool afterSync = false;     // FAULT_AFTER=sync
};

// One run of the installer: its arguments (after -r ROOT), its standard input, and
// whether it runs inside the root instead (after prepareChroot).
struct Invocation {
  std::vector<std::string> arguments;
  std::string input = "";
  bool chrooted = false;
};

// "installer -" with file on standard input.
Invocation standardInput(const std::string& file);

// Puts file in the download directory proper, where an upgrade run finds it.
void offer(const ScratchRoot& root, const std::string& file);

// Runs the installer on root with the interposer loaded. Every run goes without
// sync(): nothing a test looks at depends on it, and each one waits for every disk
// of the machine.
RunResult runWithFault(const ScratchRoot& root, const Invocation& invocation,
                       const Fault& fault = {});

// How many calls a run counts for fault (whose at and error are ignored).
unsigned long countCalls(const ScratchRoot& root, const Invocation& invocation,
                         const Fault& fault);

// installBinary() and the interposer at its own path inside the root.
void prepareChroot(ScratchRoot& root);

// Every entry below ROOT/flash but the temporary files of change sets, the
// post-install log and the received image, which the installer writes straight to
// the flash: path -> " mode content" (escaped), " -> target" or "" for a directory.
using Tree = std::map<std::string, std::string>;
Tree flashTree(const ScratchRoot& root);

// The first path at which the two trees differ; empty when they are equal.
std::string firstDifference(const Tree& one, const Tree& other);

// The first path whose entry in tree is neither the older nor the newer one (a
// missing entry counting as one of its own); empty when there is none.
std::string mixedEntry(const Tree& tree, const Tree& older, const Tree& newer);

// Change-set temporaries left below flash, ram and rw.
std::vector<std::string> temporaries(const ScratchRoot& root);

}  // namespace faults
