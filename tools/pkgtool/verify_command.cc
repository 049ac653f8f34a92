// pkgtool verify: checks the signature of every package of a file as the installer
// does. ExitOk when every package is accepted, ExitFailed when one is rejected,
// ExitUsage for bad usage or an unreadable file.

#include <cerrno>
#include <cstring>
#include <iostream>

#include "engine/signature_level.h"
#include "pkgtool/command.h"
#include "pkgtool/file_io.h"
#include "pkgtool/package_report.h"
#include "pkgtool/printable_text.h"
#include "pkgtool/signature_report.h"
#include "pkgtool/signing_options.h"

namespace {

constexpr auto kOptions = joinRules(
    std::to_array<OptionRule>({
        {"--level", "", "1|2",
         "required level: 1 takes either signature form, 2 only\n"
         "EdDSA (default: what the installer requires for each\n"
         "package's version on a router without /ram/SECURE)"},
    }),
    kPublicKeysOption);

constexpr std::string_view kNotes[] = {
    "Exit status: 0 every package accepted, 1 rejected, 2 unreadable file or bad usage.\n"};

int runVerify(const ParsedOptions& options) {
  if (options.operands.size() != 1) return usageError("verify", "one FILE is needed");
  const std::string& path = options.operands[0];
  int level = 0;  // 0: the installer's level for each package
  if (const std::string* text = options.last("--level")) {
    if (*text != "1" && *text != "2")
      return usageError("verify", "--level is 1 or 2, not \"%s\"", text->c_str());
    level = *text == "1" ? 1 : 2;
  }
  PublicKeySet keys;
  if (const int status = readPublicKeyOption(options, keys); status != ExitOk) return status;

  std::string file;
  if (!readWholeFile(path, file)) {
    complain("cannot read %s: %s", path.c_str(), strerror(errno));
    return ExitUsage;
  }
  FileInspection inspection;
  std::vector<PackageSignatureReport> reports;
  if (!inspectPackageBytes(file, inspection) || !verifyPackageFile(file, keys, reports)) {
    complain("%s is not a readable package file", path.c_str());
    return ExitUsage;
  }
  if (reports.empty()) {
    complain("%s holds no package", path.c_str());
    return ExitFailed;
  }
  bool allAccepted = true;
  for (size_t i = 0; i < reports.size(); ++i) {
    const PackageSignatureReport& report = reports[i];
    std::string name = report.name;
    int packageLevel = level != 0 ? level : 2;
    if (i < inspection.packages.size()) {
      name = displayName(inspection.packages[i].meta);
      if (level == 0) packageLevel = signatureLevelFor(inspection.packages[i].meta);
    }
    const bool accepted = packageLevel == 1 ? report.acceptedLevel1 : report.acceptedLevel2;
    allAccepted = allAccepted && accepted;
    std::cout << printable(name) << ": " << (accepted ? "accepted" : "rejected") << " at level "
              << packageLevel << " (" << describeSignature(report) << ")\n";
  }
  std::cout << std::flush;
  return allAccepted ? ExitOk : ExitFailed;
}

}  // namespace

constinit const Command kVerifyCommand = {
    "verify",
    "check the signature of every package of a file",
    "[--level 1|2] [--keys DIRECTORY] FILE",
    kOptions,
    kNotes,
    runVerify,
};
