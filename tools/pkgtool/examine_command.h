#pragma once

#include <string>
#include <vector>

// pkgtool inspect [--json] [--keys DIRECTORY] FILE: a readable summary of a package
// or bundle file, or the same as one JSON object. ExitOk for a file that reads
// whole, ExitFailed for a damaged one (what could be read is still shown),
// ExitUsage for bad usage or a file that is no package file.
int runInspect(const std::vector<std::string>& args);
