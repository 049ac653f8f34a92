#include "pkgtool/signing_options.h"

#include "pkgtool/command.h"

namespace {

// A build used inside the source tree signs with its development keys by default; an
// installed tool has no default and must be told where the vendor's secrets are.
#ifdef PKGTOOL_KEY_DIR
constexpr const char* kDefaultKeyDirectory = PKGTOOL_KEY_DIR;
#else
constexpr const char* kDefaultKeyDirectory = nullptr;
#endif

}  // namespace

int readSigningOptions(const ParsedOptions& options, SigningKeys& keys,
                       SignOptions& signOptions) {
  signOptions.forms = options.has("--legacy-only") ? SignatureForms::LegacyOnly
                                                   : SignatureForms::Both;
  signOptions.sha256 = options.has("--sha256");
  const std::string* keyDirectory = options.last("--keys");
  const std::string* legacy = options.last("--legacy-secret");
  const std::string* eddsa = options.last("--eddsa-secret");
  if (keyDirectory == nullptr && kDefaultKeyDirectory == nullptr &&
      (legacy == nullptr || eddsa == nullptr)) {
    complain("no signing keys: name the directory of legacy.secret and eddsa.secret with "
             "--keys DIRECTORY");
    return ExitUsage;
  }
  std::string directory;
  if (keyDirectory != nullptr)
    directory = *keyDirectory;
  else if (kDefaultKeyDirectory != nullptr)
    directory = kDefaultKeyDirectory;
  const std::string legacyPath = legacy != nullptr ? *legacy : directory + "/legacy.secret";
  const std::string eddsaPath = eddsa != nullptr ? *eddsa : directory + "/eddsa.secret";
  if (!readSigningKeys(legacyPath, eddsaPath, keys)) {
    complain("cannot read the signing secrets %s and %s", legacyPath.c_str(),
             eddsaPath.c_str());
    return ExitUsage;
  }
  return ExitOk;
}

int readSignRequest(std::string_view command, const ParsedOptions& options,
                    SignRequest& request) {
  request.sign = options.has("--sign");
  if (request.sign) return readSigningOptions(options, request.keys, request.options);
  for (const OptionRule& rule : kSigningOptions)
    if (options.has(rule.name))
      return usageError(command, "%s needs --sign", std::string(rule.name).c_str());
  return ExitOk;
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
