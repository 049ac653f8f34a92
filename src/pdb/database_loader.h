#pragma once

#include <string>
#include <vector>

#include "model/package.h"

// Appends the entries of a list file (name, minVersion, maxVersion and, with
// withPriority, a signed priority, separated by any white space). A missing file
// is an empty list. False when an entry is malformed; earlier entries stay.
bool readEntryList(const std::string& path, std::vector<DependencyEntry>& entries,
                   bool withPriority);

// The package name with every character removed that is neither alphanumeric nor
// '-': the directory of its schedule under "/ram/pdb/".
std::string scheduleFileName(const std::string& name);
