#pragma once

#include <iosfwd>

class Repository;

// Prints the table of installed packages: name, state markers, version, build time
// and note, in the order the repository holds them.
void printListing(const Repository& repository, std::ostream& out);
