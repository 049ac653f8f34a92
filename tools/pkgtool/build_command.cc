#include "pkgtool/build_command.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "pkgtool/command_line.h"
#include "pkgtool/file_io.h"
#include "pkgtool/metadata_options.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/signing_commands.h"
#include "pkgtool/source_tree.h"

int runBuild(const std::vector<std::string>& args) {
  std::vector<OptionRule> rules = kMetadataOptionRules;
  rules.insert(rules.end(), kSignRequestOptionRules.begin(), kSignRequestOptionRules.end());
  rules.insert(rules.end(), {{"--output", "-o", true},
                             {"--depends", "", true},
                             {"--provides", "", true},
                             {"--conflicts", "", true},
                             {"--payload", "", true},
                             {"--alt-magic", "", false}});
  ParsedOptions options;
  if (!parseOptions(args, rules, options)) return showUsage("build");
  const std::string* output = options.last("--output");
  if (output == nullptr) return usageError("build", "--output is required");
  if (options.operands.size() > 1) return usageError("build", "at most one DIRECTORY");

  PackageLayout layout;
  int status = readMetadataOptions("build", options, layout.meta);
  if (status == ExitOk)
    status = readEntryOptions("build", options, "--depends", layout.meta.dependencies);
  if (status == ExitOk)
    status = readEntryOptions("build", options, "--provides", layout.meta.provides);
  if (status == ExitOk)
    status = readEntryOptions("build", options, "--conflicts", layout.meta.conflicts);
  if (status != ExitOk) return status;

  bool sign = false;
  SigningKeys keys;
  SignOptions signOptions;
  if (const int signStatus = readSignRequest("build", options, sign, keys, signOptions);
      signStatus != ExitOk)
    return signStatus;

  if (const std::string* payload = options.last("--payload")) {
    layout.hasPayload = true;
    if (!readWholeFile(*payload, layout.payload)) {
      complain("cannot read %s: %s", payload->c_str(), strerror(errno));
      return ExitUsage;
    }
  }
  if (!options.operands.empty() && !collectSourceTree(options.operands[0], layout.files))
    return ExitUsage;

  std::string file =
      buildPackageFile(layout, options.has("--alt-magic") ? kAltPackageMagic : kPackageMagic);
  // The length words of the file header and of every part are 32 bits wide.
  if (file.size() - kFileHeaderSize > UINT32_MAX) {
    complain("the package is too large (%zu bytes)", file.size());
    return ExitFailed;
  }
  if (sign && !signFileBytes(*output, file, keys, signOptions)) return ExitFailed;
  if (!writeWholeFile(*output, file)) {
    complain("cannot write %s: %s", output->c_str(), strerror(errno));
    return ExitFailed;
  }
  return ExitOk;
}
