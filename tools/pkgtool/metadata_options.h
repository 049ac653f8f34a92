#pragma once

#include <string_view>
#include <vector>

#include "model/package.h"
#include "pkgtool/command_line.h"

// The identity and text options that "build" and "bundle" share: --name, --version,
// --build-time, --arch, --note, --flags, --text2, --text24.
extern const std::vector<OptionRule> kMetadataOptionRules;

// Fills the identity and texts of meta from those options. The build time defaults
// to $SOURCE_DATE_EPOCH when set, else the current time. ExitOk, or ExitUsage after
// the usage error has been printed.
int readMetadataOptions(std::string_view command, const ParsedOptions& options,
                        Package& meta);

// Reads "NAME[:MIN[:MAX[:PRIORITY]]]": versions as text (empty or missing: 0), a
// signed priority (default 0), a name of 1 to 16 characters. False for anything else.
bool parseEntryText(std::string_view text, DependencyEntry& entry);

// Appends an entry for every occurrence of the option. ExitOk or ExitUsage.
int readEntryOptions(std::string_view command, const ParsedOptions& options,
                     std::string_view option, std::vector<DependencyEntry>& entries);

// A package name fits the 16-byte field and names a directory of its own.
bool isValidPackageName(std::string_view name);
