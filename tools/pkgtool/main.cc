// pkgtool: makes, signs, bundles and examines package files in the format the
// installer reads, and lists the installed set of a router root.

#include <iostream>
#include <string>
#include <vector>

#include "pkgtool/build_command.h"
#include "pkgtool/bundle_command.h"
#include "pkgtool/command_line.h"
#include "pkgtool/db_command.h"
#include "pkgtool/examine_command.h"
#include "pkgtool/signing_commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>& args);
};

constexpr Command kCommands[] = {
    {"build", runBuild},   {"bundle", runBundle}, {"inspect", runInspect}, {"verify", runVerify},
    {"sign", runSign},     {"keygen", runKeygen}, {"db", runDb},
};

bool asksForHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usageError("", "no command given");
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << usageText(args.empty() ? "" : args[0]);
    return ExitOk;
  }
  for (const Command& candidate : kCommands) {
    if (command != candidate.name) continue;
    if (asksForHelp(args)) {
      std::cout << usageText(command);
      return ExitOk;
    }
    return candidate.run(args);
  }
  return usageError("", "unknown command \"%s\"", command.c_str());
}
