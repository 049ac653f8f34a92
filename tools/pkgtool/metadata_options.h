#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/package.h"
#include "pkgtool/command_line.h"
#include "pkgtool/signing_options.h"

// What "build" and "bundle" share: the options of the header's identity and texts,
// the payload and magic, their signing, and how the result is written.

inline constexpr auto kMetadataOptions = std::to_array<OptionRule>({
    {"--name", "", "NAME",
     "name: 1 to 16 bytes, no \"/\", blank or control character,\n"
     "not \".\" or \"..\""},
    {"--version", "", "VERSION", "version, as VERSION below"},
    {"--build-time", "", "SECONDS",
     "build time (default: $SOURCE_DATE_EPOCH when set, else now)"},
    {"--arch", "", "ARCH", "architecture (without it the installer assumes i386)"},
    {"--note", "", "TEXT", "free text shown by the router's listing"},
    {"--flags", "", "WORD", "flag word, decimal or 0x hex (1 boot package, 2 state only)"},
    {"--text2", "", "TEXT", "text carried in the type-2 part"},
    {"--text24", "", "TEXT", "text carried in the type-24 part"},
    {"--payload", "", "FILE", "an opaque payload part holding the bytes of FILE"},
    {"--alt-magic", "", "", "write the second magic value, 0xA1100FFB"},
});

inline constexpr std::string_view kVersionNote =
    "VERSION is MAJOR.MINOR, MAJOR.MINOR.NUMBER, or MAJOR.MINOR followed by alpha, beta\n"
    "or rc and an optional number (6.42, 6.42.3, 6.41rc5, 7.1beta3); each number 0..255.\n";
inline constexpr std::string_view kEntryNote =
    "ENTRY is NAME[:MIN[:MAX[:PRIORITY]]]: NAME is 1 to 16 bytes without blank or\n"
    "control character, MIN and MAX are versions (empty or missing: 0, which for MAX\n"
    "means no upper bound), PRIORITY a signed number (default 0).\n";

// What the shared options give.
struct MakeOptions {
  Package meta;             // identity and texts
  bool hasPayload = false;  // --payload was given
  std::string payload;      // the bytes of its file
  uint32_t magic = 0;
  SignRequest signing;
};

// Reads the shared options into made. The build time defaults to $SOURCE_DATE_EPOCH
// when set, else the current time. ExitOk, or ExitUsage after a message.
int readMakeOptions(std::string_view command, const ParsedOptions& options, MakeOptions& made);

// Reads "NAME[:MIN[:MAX[:PRIORITY]]]": versions as text (empty or missing: 0), a
// signed priority (default 0), a name of 1 to 16 bytes without blank or control
// character. False for anything else.
bool parseEntryText(std::string_view text, DependencyEntry& entry);

// Appends an entry for every occurrence of the option. ExitOk or ExitUsage.
int readEntryOptions(std::string_view command, const ParsedOptions& options,
                     std::string_view option, std::vector<DependencyEntry>& entries);

// Signs file as requested and writes it to path. ExitOk, or ExitFailed after a
// message.
int writeMadeFile(const std::string& path, std::string& file, const SignRequest& signing);
