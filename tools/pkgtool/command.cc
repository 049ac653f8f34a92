#include "pkgtool/command.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iostream>

namespace {

constexpr const Command* kCommands[] = {&kBuildCommand,  &kBundleCommand, &kInspectCommand,
                                        &kVerifyCommand, &kSignCommand,   &kKeygenCommand,
                                        &kDbCommand,    &kPlanCommand};

// Where the help of an option starts, and the indent of its further lines.
constexpr size_t kHelpColumn = 24;

std::string generalUsage() {
  std::string text = "usage: pkgtool COMMAND [OPTIONS] [ARGUMENTS]\ncommands:\n";
  for (const Command* command : kCommands) {
    std::string line = "  " + std::string(command->name);
    line.resize(11, ' ');
    text += line + std::string(command->summary) + '\n';
  }
  return text +
         "\"pkgtool COMMAND --help\" shows the options of a command.\n"
         "Exit status: 0 done, 1 failed or rejected, 2 bad usage or unreadable input.\n";
}

std::string optionLine(const OptionRule& rule) {
  std::string line = "  ";
  if (!rule.alias.empty()) {
    line += rule.alias;
    line += ", ";
  }
  line += rule.name;
  if (rule.takesValue()) {
    line += ' ';
    line += rule.valueName;
  }
  line.resize(std::max(line.size() + 2, kHelpColumn), ' ');
  for (const char c : rule.help) {
    line += c;
    if (c == '\n') line.append(kHelpColumn, ' ');
  }
  return line + '\n';
}

}  // namespace

const Command* findCommand(std::string_view name) {
  for (const Command* command : kCommands)
    if (command->name == name) return command;
  return nullptr;
}

std::string usageText(std::string_view name) {
  const Command* command = findCommand(name);
  if (command == nullptr) return generalUsage();
  std::string text = "usage: pkgtool " + std::string(command->name) + " " +
                     std::string(command->synopsis) + "\n";
  for (const OptionRule& rule : command->options) text += optionLine(rule);
  for (const std::string_view note : command->notes) text += note;
  return text;
}

int showUsage(std::string_view command) {
  std::cerr << usageText(command) << std::flush;
  return ExitUsage;
}

int usageError(std::string_view command, const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  complain("%s", text);
  return showUsage(command);
}
