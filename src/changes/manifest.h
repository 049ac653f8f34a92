#pragma once

#include <string>

class ChangeSet;

// The manifest holds a deferred change set, one line per change in key order:
//   "U " path                 Delete
//   "L " path " " target      Symlink
//   "M " path " " source      Move or MoveTemp (read back as Move)
// Blank, tab, line feed and backslash inside a path or argument are written as
// the octal escapes \040, \011, \012 and \134.

// Writes the set's manifest to a temporary file beside path, flushes it and renames
// it over path, so that a reader only ever sees a whole manifest. False, with errno
// set, when that fails; the temporary file is gone then and path is untouched.
bool writeManifest(const ChangeSet& changes, const std::string& path);

enum class ManifestRead {
  Whole,    // read up to an empty line or the end of the file
  Missing,  // the file cannot be opened
  Damaged,  // a "U", "L" or "M" line is malformed, or a field holds a NUL byte
};

// Adds the manifest's changes to the set. An empty line or the end of the file ends
// it; a line of another kind is ignored. A damaged manifest leaves the changes read
// before the damage in the set: the caller must not apply it.
ManifestRead readManifest(ChangeSet& changes, const std::string& path);
