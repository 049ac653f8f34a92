#pragma once

#include <string>
#include <vector>

// pkgtool bundle -o FILE --name NAME --version VERSION [OPTIONS] PACKAGE...: a bundle
// file of the bundle header, its payload part (always present, empty unless
// --payload is given), its entry table when --table entries are given, and then the
// parts of each package file as they are, in the order given.
int runBundle(const std::vector<std::string>& args);
