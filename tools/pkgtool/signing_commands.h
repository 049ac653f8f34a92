#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/package.h"
#include "pkgtool/command_line.h"
#include "pkgtool/key_files.h"
#include "pkgtool/package_signer.h"

// The signing side of the package tool: keygen, sign, verify, and the signing
// options that build and bundle share with sign.

// --legacy-only, --sha256, --keys, --legacy-secret, --eddsa-secret.
extern const std::vector<OptionRule> kSigningOptionRules;

// Reads the signing options and the two secrets they name (by default those of
// the source tree's keys/). ExitOk, or ExitUsage after a message.
int readSigningOptions(const ParsedOptions& options, SigningKeys& keys,
                       SignOptions& signOptions);

// The signing options and "--sign", for build and bundle.
extern const std::vector<OptionRule> kSignRequestOptionRules;

// For build and bundle: sign is whether --sign was given; with it, the signing
// options are read as above, without it they are refused. ExitOk or ExitUsage.
int readSignRequest(std::string_view command, const ParsedOptions& options, bool& sign,
                    SigningKeys& keys, SignOptions& signOptions);

// Signs every package of the file in memory; false after a message naming label.
bool signFileBytes(const std::string& label, std::string& file, const SigningKeys& keys,
                   const SignOptions& signOptions);

// The public keys named by --keys DIRECTORY (legacy.public, eddsa.public), or the
// installer's built-in ones. ExitOk, or ExitUsage after a message.
int readPublicKeyOption(const ParsedOptions& options, PublicKeySet& keys);

// pkgtool keygen DIRECTORY
int runKeygen(const std::vector<std::string>& args);
// pkgtool sign [OPTIONS] FILE
int runSign(const std::vector<std::string>& args);
// pkgtool verify [--level 1|2] [--keys DIRECTORY] FILE: ExitOk when every package
// is accepted, ExitFailed when one is rejected, ExitUsage for bad usage or an
// unreadable file.
int runVerify(const std::vector<std::string>& args);
