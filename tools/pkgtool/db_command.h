#pragma once

#include <string>
#include <vector>

// pkgtool db [--json] ROOT: the installed packages of a router root as the
// installer's loader sees them (name, version, state, bundle, schedule, file count).
// The loader works on the router's absolute paths, so it runs in a child process
// whose root is ROOT; the child's exit status is passed on. ExitUsage when ROOT has
// no "flash/var/pdb/".
int runDb(const std::vector<std::string>& args);
