#pragma once

#include <string>

#include "engine/install_flags.h"

// What the command line asks for.
struct Settings {
  bool cleanup = false;
  bool show = false;
  bool fromStdin = false;
  bool quiet = false;
  bool applyNow = true;
  std::string root;
  InstallFlags installFlags = AllowUpgrade;
};

// Parses the arguments in order into settings. "--commit" and "--cancel" run their
// mode the moment they are reached, and an unrecognised argument prints the usage
// text; in those cases the result is false and the program ends with status.
bool parseCommandLine(int argc, const char* const* argv, Settings& settings, int& status);
