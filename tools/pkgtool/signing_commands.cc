#include "pkgtool/signing_commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "engine/signature_level.h"
#include "pkgtool/file_io.h"
#include "pkgtool/package_report.h"
#include "pkgtool/signature_report.h"

#ifndef PKGTOOL_KEY_DIR
#define PKGTOOL_KEY_DIR "keys"
#endif

const std::vector<OptionRule> kSigningOptionRules = {
    {"--legacy-only", "", false},  {"--sha256", "", false},       {"--keys", "", true},
    {"--legacy-secret", "", true}, {"--eddsa-secret", "", true},
};

const std::vector<OptionRule> kSignRequestOptionRules = [] {
  std::vector<OptionRule> rules = kSigningOptionRules;
  rules.push_back({"--sign", "", false});
  return rules;
}();

namespace {

std::string keyDirectory(const ParsedOptions& options) {
  const std::string* directory = options.last("--keys");
  return directory != nullptr ? *directory : std::string(PKGTOOL_KEY_DIR);
}

}  // namespace

int readSigningOptions(const ParsedOptions& options, SigningKeys& keys,
                       SignOptions& signOptions) {
  signOptions.forms = options.has("--legacy-only") ? SignatureForms::LegacyOnly
                                                   : SignatureForms::Both;
  signOptions.sha256 = options.has("--sha256");
  const std::string directory = keyDirectory(options);
  const std::string* legacy = options.last("--legacy-secret");
  const std::string* eddsa = options.last("--eddsa-secret");
  const std::string legacyPath = legacy != nullptr ? *legacy : directory + "/legacy.secret";
  const std::string eddsaPath = eddsa != nullptr ? *eddsa : directory + "/eddsa.secret";
  if (!readSigningKeys(legacyPath, eddsaPath, keys)) {
    complain("cannot read the signing secrets %s and %s", legacyPath.c_str(),
             eddsaPath.c_str());
    return ExitUsage;
  }
  return ExitOk;
}

int readSignRequest(std::string_view command, const ParsedOptions& options, bool& sign,
                    SigningKeys& keys, SignOptions& signOptions) {
  sign = options.has("--sign");
  if (sign) return readSigningOptions(options, keys, signOptions);
  for (const OptionRule& rule : kSigningOptionRules)
    if (options.has(rule.name))
      return usageError(command, "%s needs --sign", std::string(rule.name).c_str());
  return ExitOk;
}

bool signFileBytes(const std::string& label, std::string& file, const SigningKeys& keys,
                   const SignOptions& signOptions) {
  const SignStatus status = signPackageFile(file, keys, signOptions);
  if (status == SignStatus::Signed) return true;
  complain("cannot sign %s: %s", label.c_str(), signStatusText(status));
  return false;
}

int readPublicKeyOption(const ParsedOptions& options, PublicKeySet& keys) {
  const std::string* directory = options.last("--keys");
  if (directory == nullptr) {
    keys = builtInPublicKeys();
    return ExitOk;
  }
  const std::string legacyPath = *directory + "/legacy.public";
  const std::string eddsaPath = *directory + "/eddsa.public";
  if (!readKeyFile(legacyPath, keys.legacy) || !readKeyFile(eddsaPath, keys.eddsa)) {
    complain("cannot read the public keys %s and %s", legacyPath.c_str(), eddsaPath.c_str());
    return ExitUsage;
  }
  return ExitOk;
}

int runKeygen(const std::vector<std::string>& args) {
  ParsedOptions options;
  if (!parseOptions(args, {}, options)) return showUsage("keygen");
  if (options.operands.size() != 1) return usageError("keygen", "one DIRECTORY is needed");
  const std::string& directory = options.operands[0];
  for (const char* name : kKeyFileNames) {
    const std::string path = directory + "/" + name;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0) {
      complain("%s exists; not overwriting any key", path.c_str());
      return ExitFailed;
    }
  }
  KeySet keys;
  if (!generateKeys(keys)) {
    complain("cannot generate keys");
    return ExitFailed;
  }
  if (!writeKeys(directory, keys)) {
    complain("cannot write the keys into %s: %s", directory.c_str(), strerror(errno));
    return ExitFailed;
  }
  std::cout << "wrote " << directory << "/{legacy,eddsa}.{secret,public}\n";
  return ExitOk;
}

int runSign(const std::vector<std::string>& args) {
  std::vector<OptionRule> rules = kSigningOptionRules;
  rules.push_back({"--output", "-o", true});
  ParsedOptions options;
  if (!parseOptions(args, rules, options)) return showUsage("sign");
  if (options.operands.size() != 1) return usageError("sign", "one FILE is needed");
  const std::string& path = options.operands[0];
  const std::string* output = options.last("--output");

  SigningKeys keys;
  SignOptions signOptions;
  if (const int status = readSigningOptions(options, keys, signOptions); status != ExitOk)
    return status;
  std::string file;
  if (!readWholeFile(path, file)) {
    complain("cannot read %s: %s", path.c_str(), strerror(errno));
    return ExitUsage;
  }
  const SignStatus status = signPackageFile(file, keys, signOptions);
  if (status != SignStatus::Signed) {
    complain("cannot sign %s: %s", path.c_str(), signStatusText(status));
    return status == SignStatus::Unreadable ? ExitUsage : ExitFailed;
  }
  const std::string& target = output != nullptr ? *output : path;
  if (!writeWholeFile(target, file)) {
    complain("cannot write %s: %s", target.c_str(), strerror(errno));
    return ExitFailed;
  }
  return ExitOk;
}

int runVerify(const std::vector<std::string>& args) {
  ParsedOptions options;
  if (!parseOptions(args, {{"--level", "", true}, {"--keys", "", true}}, options))
    return showUsage("verify");
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
    std::cout << name << ": " << (accepted ? "accepted" : "rejected") << " at level "
              << packageLevel << " (" << describeSignature(report) << ")\n";
  }
  std::cout << std::flush;
  return allAccepted ? ExitOk : ExitFailed;
}
