#include "pkgtool/command_line.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>

namespace {

const std::string kGeneralUsage =
    "usage: pkgtool COMMAND [OPTIONS] [ARGUMENTS]\n"
    "commands:\n"
    "  build    make a package file from a directory tree\n"
    "  bundle   combine package files into a bundle file\n"
    "  inspect  describe a package or bundle file\n"
    "  verify   check the signature of every package of a file\n"
    "  sign     sign every package of a file\n"
    "  keygen   write a new key pair of both signature schemes\n"
    "  db       list the installed packages of a router root\n"
    "\"pkgtool COMMAND --help\" shows the options of a command.\n"
    "Exit status: 0 done, 1 failed or rejected, 2 bad usage or unreadable input.\n";

const std::string kSigningOptions =
    "  --legacy-only         sign with the older scheme only (68-byte signature part)\n"
    "  --sha256              digest with SHA-256 (a digest-switch part goes first)\n"
    "  --keys DIRECTORY      where legacy.secret and eddsa.secret lie\n"
    "                        (default: the development keys of the source tree)\n"
    "  --legacy-secret FILE  the older scheme's secret, instead of the one in --keys\n"
    "  --eddsa-secret FILE   the EdDSA secret, instead of the one in --keys\n";

const std::string kMetadataOptions =
    "  --build-time SECONDS  build time (default: $SOURCE_DATE_EPOCH when set, else now)\n"
    "  --arch ARCH           architecture (without it the installer assumes i386)\n"
    "  --note TEXT           free text shown by the router's listing\n"
    "  --flags WORD          flag word, decimal or 0x hex (1 boot package, 2 state only)\n"
    "  --text2 TEXT          text carried in part 2\n"
    "  --text24 TEXT         text carried in part 24\n"
    "  --payload FILE        an opaque payload part holding the bytes of FILE\n"
    "  --alt-magic           write the second magic value, 0xA1100FFB\n"
    "  --sign                sign the result (signing options as for \"sign\")\n";

const std::string kVersionHelp =
    "VERSION is MAJOR.MINOR, MAJOR.MINOR.NUMBER, or MAJOR.MINOR followed by alpha, beta\n"
    "or rc and an optional number (6.42, 6.42.3, 6.41rc5, 7.1beta3); each number 0..255.\n";

const std::map<std::string_view, std::string> kCommandUsage = {
    {"build",
     "usage: pkgtool build -o FILE --name NAME --version VERSION [OPTIONS] [DIRECTORY]\n"
     "  -o, --output FILE     the package file to write\n"
     "  --name NAME           package name, 1 to 16 characters, no \"/\"\n"
     "  --version VERSION     package version\n" +
         kMetadataOptions +
         "  --depends ENTRY       a package this one requires (repeatable)\n"
         "  --provides ENTRY      a name this package provides (repeatable)\n"
         "  --conflicts ENTRY     a package this one cannot coexist with (repeatable)\n" +
         kSigningOptions + kVersionHelp +
         "ENTRY is NAME[:MIN[:MAX[:PRIORITY]]]: MIN and MAX are versions (empty or missing:\n"
         "0, which for MAX means no upper bound), PRIORITY a signed number (default 0).\n"
         "Everything below DIRECTORY goes into the file container under its path relative\n"
         "to DIRECTORY; without DIRECTORY the container is empty.\n"},
    {"bundle",
     "usage: pkgtool bundle -o FILE --name NAME --version VERSION [OPTIONS] PACKAGE...\n"
     "  -o, --output FILE     the bundle file to write\n"
     "  --name NAME           bundle name, 1 to 16 characters, no \"/\"\n"
     "  --version VERSION     bundle version\n" +
         kMetadataOptions +
         "  --table ENTRY         a name for the bundle's entry table (repeatable); members\n"
         "                        named there install disabled unless the user chose\n" +
         kSigningOptions + kVersionHelp +
         "ENTRY is NAME[:MIN[:MAX[:PRIORITY]]], as for \"build\".\n"
         "Each PACKAGE is a package file made by \"build\"; its parts are copied as they are.\n"},
    {"inspect",
     "usage: pkgtool inspect [--json] [--keys DIRECTORY] FILE\n"
     "  --json                one JSON object instead of the readable summary\n"
     "  --keys DIRECTORY      check signatures against legacy.public and eddsa.public\n"
     "                        there instead of the installer's built-in keys\n"},
    {"verify",
     "usage: pkgtool verify [--level 1|2] [--keys DIRECTORY] FILE\n"
     "  --level 1|2           required level: 1 takes either signature form, 2 only\n"
     "                        EdDSA (default: what the installer requires for each\n"
     "                        package's version on a router without /ram/SECURE)\n"
     "  --keys DIRECTORY      check against legacy.public and eddsa.public there\n"
     "Exit status: 0 every package accepted, 1 rejected, 2 unreadable file or bad usage.\n"},
    {"sign",
     "usage: pkgtool sign [OPTIONS] FILE\n"
     "  -o, --output FILE     write the signed file there instead of replacing FILE\n" +
         kSigningOptions},
    {"keygen",
     "usage: pkgtool keygen DIRECTORY\n"
     "Writes legacy.secret, legacy.public, eddsa.secret and eddsa.public into DIRECTORY;\n"
     "refuses when any of them exists.\n"},
    {"db",
     "usage: pkgtool db [--json] ROOT\n"
     "Lists the installed packages of the router root ROOT as the installer loads them.\n"
     "  --json                one JSON object instead of the table\n"},
};

const OptionRule* findRule(const std::vector<OptionRule>& rules, std::string_view word) {
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

bool parseOptions(const std::vector<std::string>& args,
                  const std::vector<OptionRule>& rules, ParsedOptions& parsed) {
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
    if (!rule->takesValue) {
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

void complain(const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  std::cout << std::flush;
  std::cerr << "pkgtool: " << text << '\n' << std::flush;
}

const std::string& usageText(std::string_view command) {
  const auto found = kCommandUsage.find(command);
  return found == kCommandUsage.end() ? kGeneralUsage : found->second;
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
