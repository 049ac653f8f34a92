#pragma once

#include <span>
#include <string>
#include <string_view>

#include "pkgtool/command_line.h"

// One command of the package tool: everything its usage shows and what runs it.
// Each command defines its entry in a file of its own; command.cc lists them in the
// order the general usage shows.
struct Command {
  std::string_view name;
  std::string_view summary;   // one line in the general usage
  std::string_view synopsis;  // what follows "usage: pkgtool NAME "
  std::span<const OptionRule> options;
  std::span<const std::string_view> notes;  // paragraphs after the options
  // Runs the command on its parsed command line; an ExitStatus.
  int (*run)(const ParsedOptions& options);
};

extern const Command kBuildCommand;
extern const Command kBundleCommand;
extern const Command kInspectCommand;
extern const Command kVerifyCommand;
extern const Command kSignCommand;
extern const Command kKeygenCommand;
extern const Command kDbCommand;
extern const Command kPlanCommand;

// The command of that name, or null.
const Command* findCommand(std::string_view name);

// The usage text of the named command, or the general usage for "" or an unknown
// name.
std::string usageText(std::string_view command);
// Prints the command's usage on standard error; ExitUsage.
int showUsage(std::string_view command);
// complain() the problem, print the command's usage on standard error; ExitUsage.
int usageError(std::string_view command, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
