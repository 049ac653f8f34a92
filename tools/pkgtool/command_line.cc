#include "pkgtool/command_line.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <iostream>

namespace {

const OptionRule* findRule(std::span<const OptionRule> rules, std::string_view word) {
  for (const OptionRule& rule : rules)
    if (word == rule.name || (!rule.alias.empty() && word == rule.alias)) return &rule;
  return nullptr;
}

}  // namespace

bool ParsedOptions::has(std::string_view name) const { return last(name) != nullptr; }

const std::string* ParsedOptions::last(std::string_view name) const {
  for (auto option = options.rbegin(); option != options.rend(); ++option)
    if (option->first == name) return &option->second;
  return nullptr;
}

std::vector<std::string> ParsedOptions::all(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [optionName, value] : options)
    if (optionName == name) values.push_back(value);
  return values;
}

bool parseOptions(const std::vector<std::string>& args, std::span<const OptionRule> rules,
                  ParsedOptions& parsed) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string_view word = arg;
    std::string value;
    bool inlineValue = false;
    const size_t equals = arg.find('=');
    if (arg.starts_with("--") && equals != std::string::npos) {
      word = std::string_view(arg).substr(0, equals);
      value = arg.substr(equals + 1);
      inlineValue = true;
    }
    const OptionRule* rule = findRule(rules, word);
    if (rule == nullptr) {
      complain("unknown option \"%s\"", std::string(word).c_str());
      return false;
    }
    if (!rule->takesValue()) {
      if (inlineValue) {
        complain("option \"%s\" takes no value", std::string(rule->name).c_str());
        return false;
      }
    } else if (!inlineValue) {
      if (i + 1 == args.size()) {
        complain("option \"%s\" needs a value", std::string(rule->name).c_str());
        return false;
      }
      value = args[++i];
    }
    parsed.options.emplace_back(std::string(rule->name), value);
  }
  return true;
}

bool asksForHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

void complain(const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  std::cout << std::flush;
  std::cerr << "pkgtool: " << text << '\n' << std::flush;
}

bool parseUnsigned32(std::string_view text, uint32_t& value) {
  unsigned base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t result = 0;
  for (const char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    result = result * base + digit;
    if (result > UINT32_MAX) return false;
  }
  value = static_cast<uint32_t>(result);
  return true;
}

bool parseSigned32(std::string_view text, int32_t& value) {
  const bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  uint32_t magnitude;
  if (!parseUnsigned32(text, magnitude)) return false;
  if (negative ? magnitude > 0x80000000u : magnitude > 0x7FFFFFFFu) return false;
  value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                   : static_cast<int32_t>(magnitude);
  return true;
}
