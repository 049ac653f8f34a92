#pragma once

#include <string>
#include <vector>

#include "model/package.h"

class ChangeSet;

// Records the package's database entry in the change set: the full entry
// ("version", "deps", "provides", "conflicts", "bundle", "files") unless the package
// keeps only its state (an opaque payload, or STATE_ONLY), then the state files
// "disabled" and "enabled". False after a failed write (already reported).
bool writeDatabaseEntry(InstalledPackage& package, ChangeSet& changes);

// Writes one entry per line: name, minVersion, maxVersion and, withPriority, the
// priority. False when the stream failed.
bool writeEntryList(ChangeSet& changes, const std::string& path,
                    const std::vector<DependencyEntry>& entries, bool withPriority);
