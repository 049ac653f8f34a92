#include "pkgtool/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "pkgtool/command_line.h"

bool waitForChild(pid_t child, int& status) {
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return false;
  return true;
}

int runInChild(const std::function<int()>& body, const char* what) {
  std::cout.flush();
  const pid_t child = fork();
  if (child < 0) {
    complain("fork: %s", strerror(errno));
    return ExitFailed;
  }
  if (child == 0) {
    const int status = body();
    std::cout.flush();
    _exit(status);
  }
  int status = 0;
  if (!waitForChild(child, status)) {
    complain("waitpid: %s", strerror(errno));
    return ExitFailed;
  }
  if (!WIFEXITED(status)) {
    complain("%s ended abnormally", what);
    return ExitFailed;
  }
  return WEXITSTATUS(status);
}
