// pkgtool build: a package file of a directory tree and the metadata given as
// options. The same inputs always give the same bytes (unless signed: signatures
// take a fresh nonce).

#include <cstdint>
#include <utility>

#include "pkgtool/command.h"
#include "pkgtool/metadata_options.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/source_tree.h"

namespace {

constexpr auto kOptions = joinRules(
    std::to_array<OptionRule>({{"--output", "-o", "FILE", "the package file to write"}}),
    kMetadataOptions,
    std::to_array<OptionRule>({
        {"--depends", "", "ENTRY", "a package this one requires (repeatable)"},
        {"--provides", "", "ENTRY", "a name this package provides (repeatable)"},
        {"--conflicts", "", "ENTRY", "a package this one cannot coexist with (repeatable)"},
    }),
    kSignRequestOptions);

constexpr std::string_view kNotes[] = {
    kVersionNote, kEntryNote,
    "Everything below DIRECTORY goes into the file container under its path relative\n"
    "to DIRECTORY; without DIRECTORY the container is empty.\n"};

int runBuild(const ParsedOptions& options) {
  const std::string* output = options.last("--output");
  if (output == nullptr) return usageError("build", "--output is required");
  if (options.operands.size() > 1) return usageError("build", "at most one DIRECTORY");

  MakeOptions made;
  if (const int status = readMakeOptions("build", options, made); status != ExitOk)
    return status;
  PackageLayout layout;
  layout.meta = std::move(made.meta);
  for (const auto& [option, entries] : {std::pair{"--depends", &layout.meta.dependencies},
                                        {"--provides", &layout.meta.provides},
                                        {"--conflicts", &layout.meta.conflicts}})
    if (const int status = readEntryOptions("build", options, option, *entries); status != ExitOk)
      return status;
  layout.hasPayload = made.hasPayload;
  layout.payload = std::move(made.payload);
  if (!options.operands.empty() && !collectSourceTree(options.operands[0], layout.files))
    return ExitUsage;

  std::string file = buildPackageFile(layout, made.magic);
  // The length words of the file header and of every part are 32 bits wide.
  if (file.size() - kFileHeaderSize > UINT32_MAX) {
    complain("the package is too large (%zu bytes)", file.size());
    return ExitFailed;
  }
  return writeMadeFile(*output, file, made.signing);
}

}  // namespace

constinit const Command kBuildCommand = {
    "build",
    "make a package file from a directory tree",
    "-o FILE --name NAME --version VERSION [OPTIONS] [DIRECTORY]",
    kOptions,
    kNotes,
    runBuild,
};
