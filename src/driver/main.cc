// installer: the system package manager. One mode per run; see README.md.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/command_line.h"
#include "driver/run_modes.h"
#include "pdb/repository.h"

int main(int argc, char** argv) {
  // A package arrives on standard input as one long stream: take it in large blocks
  // rather than one file-system block per read.
  static char inputBuffer[1 << 16];
  setvbuf(stdin, inputBuffer, _IOFBF, sizeof inputBuffer);

  Repository& repository = Repository::instance();

  // The emulator board runs no package management at all.
  const char* board = getenv("board");
  if (board != nullptr && strcmp(board, "qemu_p9") == 0) return 0;

  Settings settings;
  int status = 0;
  if (!parseCommandLine(argc, argv, settings, status)) return status;

  // A root that cannot be entered ends the run: going on would change the running
  // system instead of the image the caller named.
  if (!settings.root.empty() && chroot(settings.root.c_str()) != 0) {
    perror("chroot");
    return 1;
  }
  if (chdir("/") != 0) {
    // Nothing to do: the run goes on in the current directory.
  }

  const char* arch = getenv("arch");
  repository.open(arch != nullptr ? arch : "i386", settings.quiet);

  if (settings.show) return runListing(repository);
  if (settings.cleanup) return runCleanup(repository);
  if (settings.fromStdin) return runStandardInputInstall(repository, settings);
  return runUpgrade(repository, settings);
}
