#pragma once

#include <string>
#include <vector>

#include "pkgtool/package_builder.h"

// Turns a directory tree into file container entries, named by their paths relative
// to the tree's top and sorted byte-wise, so that the same tree always gives the
// same container. Regular files keep their permission bits (mode 0100xxx, contents
// as data), directories become 040xxx entries without data, symbolic links 0120777
// entries with the link target as data. The top directory itself is no entry.
// False, with a message, when something cannot be read, is of another file type,
// or does not fit the container's length fields.
bool collectSourceTree(const std::string& top, std::vector<ContainerEntry>& entries);
