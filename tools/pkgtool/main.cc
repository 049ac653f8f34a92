// pkgtool: makes, signs, bundles and examines package files in the format the
// installer reads, and lists the installed set of a router root.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "pkgtool/command.h"

int main(int argc, char** argv) {
  if (argc < 2) return usageError("", "no command given");
  const std::string name = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (name == "--help" || name == "-h" || name == "help") {
    std::cout << usageText(args.empty() ? "" : args[0]);
    return ExitOk;
  }
  const Command* command = findCommand(name);
  if (command == nullptr) return usageError("", "unknown command \"%s\"", name.c_str());
  if (asksForHelp(args)) {
    std::cout << usageText(name);
    return ExitOk;
  }
  ParsedOptions options;
  if (!parseOptions(args, command->options, options)) return showUsage(name);
  // The standard library and the JSON writer report running out of memory, and the
  // like, by exceptions; none may leave the tool as an abort.
  try {
    return command->run(options);
  } catch (const std::exception& error) {
    complain("%s failed: %s", name.c_str(), error.what());
    return ExitFailed;
  }
}
