#pragma once

#include <string>
#include <vector>

// pkgtool build -o FILE --name NAME --version VERSION [OPTIONS] [DIRECTORY]: a
// package file of the tree below DIRECTORY and the metadata given as options.
// The same inputs always give the same bytes (unless signed: signatures take a
// fresh nonce).
int runBuild(const std::vector<std::string>& args);
