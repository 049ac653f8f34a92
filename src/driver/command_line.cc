#include "driver/command_line.h"

#include <iostream>
#include <string_view>

#include "driver/manifest_modes.h"

namespace {

void printUsage() { std::cout << "usage: installer [-q] [-r <root>] [-]" << std::endl; }

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, Settings& settings, int& status) {
  status = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const bool hasNext = i + 1 < argc;
    if (argument == "--cleanup") {
      settings.cleanup = true;
      return true;
    } else if (argument == "--safe") {
      settings.applyNow = false;
    } else if (argument == "-r" && hasNext) {
      settings.root = argv[++i];
    } else if (argument == "-") {
      settings.fromStdin = true;
      return true;
    } else if (argument == "-q") {
      settings.quiet = true;
    } else if (argument == "-down") {
      settings.installFlags |= AllowDowngrade;
    } else if (argument == "--reinstall") {
      std::cout << "\nResuming upgrade..." << std::endl;
      settings.installFlags |= AllowReinstall;
    } else if (argument == "-b" || argument == "--force" || argument == "--noupgrade" ||
               argument == "-i") {
      // Accepted for the callers that still pass them; no effect.
    } else if (argument == "--month" && hasNext) {
      ++i;
    } else if (argument == "--commit") {
      status = runCommit();
      return false;
    } else if (argument == "--cancel") {
      runCancel();
      return false;
    } else if (argument == "--show") {
      settings.show = true;
    } else {
      printUsage();
      return false;
    }
  }
  return true;
}
