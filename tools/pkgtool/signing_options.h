#pragma once

#include <array>
#include <string>
#include <string_view>

#include "pkgtool/command_line.h"
#include "pkgtool/key_files.h"
#include "pkgtool/package_signer.h"

// The options that choose signing keys and forms: those of "sign", which "build" and
// "bundle" take after --sign, and the public keys of "inspect" and "verify".

inline constexpr auto kSigningOptions = std::to_array<OptionRule>({
    {"--legacy-only", "", "", "sign with the older scheme only (68-byte signature part)"},
    {"--sha256", "", "", "digest with SHA-256 (a digest-switch part goes first)"},
    {"--keys", "", "DIRECTORY",
     "where legacy.secret and eddsa.secret lie\n"
     "(default: the development keys, in a build of the\n"
     "source tree only)"},
    {"--legacy-secret", "", "FILE", "the older scheme's secret, instead of the one in --keys"},
    {"--eddsa-secret", "", "FILE", "the EdDSA secret, instead of the one in --keys"},
});

// --sign and the signing options, for build and bundle.
inline constexpr auto kSignRequestOptions = joinRules(
    std::to_array<OptionRule>({{"--sign", "", "", "sign the result with the options below"}}),
    kSigningOptions);

inline constexpr auto kPublicKeysOption = std::to_array<OptionRule>({
    {"--keys", "", "DIRECTORY",
     "check signatures against legacy.public and eddsa.public\n"
     "there instead of the installer's built-in keys"},
});

// Reads the signing options and the two secrets they name (by default those of
// the source tree's keys/). ExitOk, or ExitUsage after a message.
int readSigningOptions(const ParsedOptions& options, SigningKeys& keys,
                       SignOptions& signOptions);

// Whether build or bundle signs its result, and how.
struct SignRequest {
  bool sign = false;
  SigningKeys keys;
  SignOptions options;
};

// For build and bundle: with --sign the signing options are read as above,
// without it they are refused. ExitOk or ExitUsage.
int readSignRequest(std::string_view command, const ParsedOptions& options,
                    SignRequest& request);

// The public keys named by --keys DIRECTORY (legacy.public, eddsa.public), or the
// installer's built-in ones. ExitOk, or ExitUsage after a message.
int readPublicKeyOption(const ParsedOptions& options, PublicKeySet& keys);
