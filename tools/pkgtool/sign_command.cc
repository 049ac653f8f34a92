// pkgtool sign: signs every package of a package or bundle file, in place or into
// another file.

#include <cerrno>
#include <cstring>

#include "pkgtool/command.h"
#include "pkgtool/file_io.h"
#include "pkgtool/signing_options.h"

namespace {

constexpr auto kOptions = joinRules(
    std::to_array<OptionRule>({
        {"--output", "-o", "FILE", "write the signed file there instead of replacing FILE"},
    }),
    kSigningOptions);

int runSign(const ParsedOptions& options) {
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

}  // namespace

constinit const Command kSignCommand = {
    "sign",
    "sign every package of a file",
    "[OPTIONS] FILE",
    kOptions,
    {},
    runSign,
};
