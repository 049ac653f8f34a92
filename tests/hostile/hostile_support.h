#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/scratch_root.h"

// Runs of the real programs on hostile input, and zlib streams that inflate to far
// more than they weigh.

// Runs argv[0] with stdinData, stopped after a minute (status 124) and limited to
// 64 MiB of address space, so that a program that grows past it fails instead of
// taking the machine; not limited when built with AddressSanitizer (which reserves
// terabytes of address space) or for ARM (run under an emulator).
RunResult bounded(std::vector<std::string> argv, const std::string& stdinData = "");

// A zlib stream built piece by piece: bytes go into stored blocks, and a run of
// zeros is one deflated, fully flushed MiB of zeros repeated, so that ten GiB of
// zeros take ten MiB and no time to make.
class ZeroStream {
 public:
  ZeroStream();
  void bytes(std::string_view data);
  void zeros(uint64_t count);  // a whole number of MiB
  // The stream with its end and Adler-32 check value.
  std::string finish() const;

 private:
  std::string out_;
  unsigned long adler_;
};

// The header of a regular file entry (mode 0100644) and its name.
std::string entryHead(const std::string& name, uint32_t dataLength);

// A package p-6.42 (or name) of the given container part, zlib bytes as they stand,
// signed with the development keys.
std::string signedWithContainer(const std::string& container, const std::string& name = "p");
