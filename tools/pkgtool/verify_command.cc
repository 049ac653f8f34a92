// pkgtool verify: checks the signature of every package of a file as the installer
// does. ExitOk when every package is accepted, ExitFailed when one is rejected,
// ExitUsage for bad usage or an unreadable file.

#include <iostream>

#include "engine/signature_level.h"
#include "pkgtool/command.h"
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
    "The file is read once, front to back; file containers are not unpacked.\n",
    "Exit status: 0 every package accepted, 1 rejected, 2 unreadable file or bad usage.\n"};

// Prints the verdict on each package as soon as its signature part is read.
class VerdictPrinter : public PackageObserver {
 public:
  explicit VerdictPrinter(int level) : level_(level) {}

  void packageEnds(const PackageInfo& info, const PackageSignatureReport* report) override {
    const int level = level_ != 0 ? level_ : signatureLevelFor(info.meta);
    const bool accepted = level == 1 ? report->acceptedLevel1 : report->acceptedLevel2;
    allAccepted = allAccepted && accepted;
    ++packages;
    std::cout << printable(displayName(info.meta)) << ": "
              << (accepted ? "accepted" : "rejected") << " at level " << level << " ("
              << describeSignature(*report) << ")\n";
  }

  bool allAccepted = true;
  uint64_t packages = 0;

 private:
  int level_;  // 0: the installer's level for each package
};

int runVerify(const ParsedOptions& options) {
  if (options.operands.size() != 1) return usageError("verify", "one FILE is needed");
  const std::string& path = options.operands[0];
  int level = 0;
  if (const std::string* text = options.last("--level")) {
    if (*text != "1" && *text != "2")
      return usageError("verify", "--level is 1 or 2, not \"%s\"", text->c_str());
    level = *text == "1" ? 1 : 2;
  }
  PublicKeySet keys;
  if (const int status = readPublicKeyOption(options, keys); status != ExitOk) return status;

  FileFrame frame;
  const std::unique_ptr<FileSource> source = openPackageFile(path, frame);
  if (source == nullptr) return ExitUsage;
  if (!frame.whole) {
    complain("%s is not a readable package file", path.c_str());
    return ExitUsage;
  }
  VerdictPrinter printer(level);
  readPackages(*source, frame, {false, &keys}, printer);
  std::cout << std::flush;
  if (printer.packages == 0) {
    complain("%s holds no package", path.c_str());
    return ExitFailed;
  }
  return printer.allAccepted ? ExitOk : ExitFailed;
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
