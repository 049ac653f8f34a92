// pkgtool bundle: a bundle file of the bundle header, its payload part (always
// present, empty unless --payload is given), its entry table when --table entries
// are given, and then the parts of each package file as they are, in the order given.

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "pkgtool/command.h"
#include "pkgtool/file_io.h"
#include "pkgtool/metadata_options.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/package_report.h"
#include "pkgtool/printable_text.h"
#include "pkgtool/signature_report.h"

namespace {

constexpr auto kOptions = joinRules(
    std::to_array<OptionRule>({{"--output", "-o", "FILE", "the bundle file to write"}}),
    kMetadataOptions,
    std::to_array<OptionRule>({
        {"--table", "", "ENTRY",
         "a name for the bundle's entry table (repeatable); members\n"
         "named there install disabled unless the user chose"},
    }),
    kSignRequestOptions);

constexpr std::string_view kNotes[] = {
    kVersionNote, kEntryNote,
    "Each PACKAGE is a package file made by \"build\"; its parts are copied as they are.\n"};

// What a member file holds, as far as bundling needs it.
class MemberCheck : public PackageObserver {
 public:
  void problem(const std::string& text) override {
    if (firstProblem.empty()) firstProblem = text;
  }
  void packageEnds(const PackageInfo& info, const PackageSignatureReport* report) override {
    if (++packages == 1) {
      name = info.meta.name;
      signedAlone = report != nullptr && report->acceptedLevel1;
    }
  }

  std::string firstProblem;
  size_t packages = 0;
  std::string name;  // of the first package
  bool signedAlone = false;
};

// Reads one member file and checks that it is a whole single package; its parts
// (everything after the file header) go to parts, and signed tells whether its
// signature is accepted as it stands. ExitOk or ExitUsage.
int readMember(const std::string& path, const std::string& bundleName, std::string& parts,
               bool& signedAlone) {
  std::string bytes;
  if (!readWholeFile(path, bytes)) {
    complain("cannot read %s: %s", path.c_str(), strerror(errno));
    return ExitUsage;
  }
  MemorySource source(bytes);
  FileFrame frame;
  MemberCheck check;
  if (!readFrame(source, bytes.size(), frame, check)) {
    complain("%s is not a package file", path.c_str());
    return ExitUsage;
  }
  if (frame.isBundle) {
    complain("%s is a bundle; a bundle cannot be a member", path.c_str());
    return ExitUsage;
  }
  const PublicKeySet keys = builtInPublicKeys();
  readPackages(source, frame, {true, frame.whole ? &keys : nullptr}, check);
  if (!check.firstProblem.empty()) {
    complain("%s is damaged: %s", path.c_str(), printable(check.firstProblem).c_str());
    return ExitUsage;
  }
  if (check.packages != 1) {
    complain("%s holds %zu packages instead of one", path.c_str(), check.packages);
    return ExitUsage;
  }
  // The installer refuses a bundle with a member of its own name.
  if (check.name == bundleName) {
    complain("%s has the bundle's own name", path.c_str());
    return ExitUsage;
  }
  parts = bytes.substr(kFileHeaderSize);
  signedAlone = check.signedAlone;
  return ExitOk;
}

// A running digest that switched to SHA-256 stays switched for the rest of the
// file, so a signature made for a member on its own need not hold inside the
// bundle. Warns about each member whose signature held before and does not now.
void warnAboutBrokenSignatures(const std::string& file, const std::vector<std::string>& members,
                               const std::vector<bool>& signedAlone) {
  std::vector<PackageSignatureReport> reports;
  verifyPackageFile(file, builtInPublicKeys(), reports);
  for (size_t i = 0; i < members.size(); ++i) {
    if (signedAlone[i] && (i >= reports.size() || !reports[i].acceptedLevel1))
      complain("warning: the signature of %s does not hold inside the bundle; use --sign",
               members[i].c_str());
  }
}

int runBundle(const ParsedOptions& options) {
  const std::string* output = options.last("--output");
  if (output == nullptr) return usageError("bundle", "--output is required");
  if (options.operands.empty()) return usageError("bundle", "at least one PACKAGE is needed");

  MakeOptions made;
  if (const int status = readMakeOptions("bundle", options, made); status != ExitOk)
    return status;
  BundleLayout layout;
  layout.meta = std::move(made.meta);
  if (const int status = readEntryOptions("bundle", options, "--table", layout.entryTable);
      status != ExitOk)
    return status;

  // The installer keeps a bundle only as its stored image, so the payload part is
  // always written.
  layout.hasPayload = true;
  layout.payload = std::move(made.payload);

  PartWriter writer;
  writer.raw(encodeBundleHead(layout));
  std::vector<bool> signedAlone;
  for (const std::string& member : options.operands) {
    std::string parts;
    bool memberSigned = false;
    if (const int memberStatus = readMember(member, layout.meta.name, parts, memberSigned);
        memberStatus != ExitOk)
      return memberStatus;
    writer.raw(parts);
    signedAlone.push_back(memberSigned);
  }
  if (writer.body().size() > UINT32_MAX) {
    complain("the bundle is too large (%zu bytes)", writer.body().size());
    return ExitFailed;
  }
  std::string file = writer.file(made.magic);
  if (!made.signing.sign) warnAboutBrokenSignatures(file, options.operands, signedAlone);
  return writeMadeFile(*output, file, made.signing);
}

}  // namespace

constinit const Command kBundleCommand = {
    "bundle",
    "combine package files into a bundle file",
    "-o FILE --name NAME --version VERSION [OPTIONS] PACKAGE...",
    kOptions,
    kNotes,
    runBundle,
};
