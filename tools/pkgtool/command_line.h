#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Option parsing and messages shared by the package tool's commands.

// Exit statuses of every command.
enum ExitStatus {
  ExitOk = 0,
  ExitFailed = 1,  // the work could not be done, or the answer is no (a rejected signature)
  ExitUsage = 2,   // bad usage, or an input that cannot be read as what it should be
};

// One option a command accepts: "--name", an optional one-letter alias ("-o"), the
// word its value is shown as in the usage ("FILE"; empty for an option without a
// value) and its help, whose lines after the first are indented under the first.
struct OptionRule {
  std::string_view name;
  std::string_view alias;
  std::string_view valueName;
  std::string_view help;

  bool takesValue() const { return !valueName.empty(); }
};

// The rules of several groups as one array, in order, for a command's table entry.
template <size_t... Sizes>
constexpr std::array<OptionRule, (Sizes + ...)> joinRules(
    const std::array<OptionRule, Sizes>&... groups) {
  std::array<OptionRule, (Sizes + ...)> all{};
  auto next = all.begin();
  ((next = std::ranges::copy(groups, next).out), ...);
  return all;
}

// The options and operands of one command line, in the order given.
class ParsedOptions {
 public:
  bool has(std::string_view name) const;
  // The value of the last occurrence, or null when the option was not given.
  const std::string* last(std::string_view name) const;
  // The values of every occurrence, in order.
  std::vector<std::string> all(std::string_view name) const;

  std::vector<std::pair<std::string, std::string>> options;  // name (long form), value
  std::vector<std::string> operands;
};

// Splits args into options and operands. "--name=value" and "--name value" both
// work; "--" ends the options. False, with a message, for an unknown option or a
// missing value.
bool parseOptions(const std::vector<std::string>& args, std::span<const OptionRule> rules,
                  ParsedOptions& parsed);

// Whether "--help" or "-h" comes before any "--".
bool asksForHelp(const std::vector<std::string>& args);

// "pkgtool: " and the formatted text on standard error.
void complain(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Whole-text number readers: decimal, or hexadecimal with "0x". False for anything
// else, including values out of range.
bool parseUnsigned32(std::string_view text, uint32_t& value);
bool parseSigned32(std::string_view text, int32_t& value);
