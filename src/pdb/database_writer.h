#pragma once

// The installed-package database on flash: one directory per package,
// "/flash/var/pdb/<name>/", holding small decimal text files, one space between
// fields, every line ended by "\n":
//   version    "<version> <buildTime>"
//   deps       one "<name> <minVersion> <maxVersion>" per dependency (may be empty)
//   provides   as deps plus " <priority>" (signed); absent when the list is empty
//   conflicts  as deps; absent when the list is empty
//   bundle     the bundle's name; absent for a package not from a bundle
//   files      one installed path per line without its leading "/"; absent for a
//              bundle (its absence is what marks one)
//   disabled   "user" or "auto"; absent when enabled
//   enabled    "user" when enabled by the user; absent otherwise
// A package installed as one stored image (or flagged STATE_ONLY) keeps only the
// two state files. Every file is written through the change set, so nothing on
// flash changes until the set is applied.

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
