#pragma once

#include <sys/types.h>

#include <functional>

// Child processes of the package tool: the commands that must change root or enter
// a namespace of their own do it in a child, so that the tool itself stays as it was.

// Waits for child, again when a signal interrupts the wait. False (errno set) when
// it cannot be waited for.
bool waitForChild(pid_t child, int& status);

// Runs body in a forked child, which ends with what body returns, and waits for it.
// Standard output is flushed on both sides of the fork, so that nothing is printed
// twice or lost. The child's exit status; ExitFailed, with a message that names what,
// when it cannot be started or does not end normally.
int runInChild(const std::function<int()>& body, const char* what);
