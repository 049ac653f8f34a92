// pkgtool keygen: a new key pair of each signature scheme, written as key files.

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "pkgtool/command.h"
#include "pkgtool/key_files.h"

namespace {

constexpr std::string_view kNotes[] = {
    "Writes legacy.secret, legacy.public, eddsa.secret and eddsa.public into DIRECTORY;\n"
    "refuses when any of them exists.\n"};

int runKeygen(const ParsedOptions& options) {
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

}  // namespace

constinit const Command kKeygenCommand = {
    "keygen",
    "write a new key pair of both signature schemes",
    "DIRECTORY",
    {},
    kNotes,
    runKeygen,
};
