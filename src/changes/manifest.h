#pragma once

#include <string>

class ChangeSet;

// The manifest holds a deferred change set, one line per change in key order:
//   "U " path                 Delete
//   "L " path " " target      Symlink
//   "M " path " " source      Move or MoveTemp (read back as Move)
// Blank, tab, line feed and backslash inside a path or argument are written as
// the octal escapes \040, \011, \012 and \134.

void writeManifest(const ChangeSet& changes, const std::string& path);

// Adds the manifest's changes to the set. An empty line or the end of the file ends
// it. False when the file cannot be opened or a line is malformed (the changes read
// before it stay in the set).
bool readManifest(ChangeSet& changes, const std::string& path);
