#pragma once

#include <string>

class ChangeSet;

// Carries out the set: first every deletion and link, then every move, each phase
// in key order. A move across file systems is copied. progress turns the spinner.
// The set keeps its entries.
void apply(const ChangeSet& changes, bool progress);

// Copies a regular file's bytes and permission bits to destination, through a
// temporary file in the destination's directory that replaces it only when the
// whole copy succeeded. Returns false (after a "copy" line on standard error)
// when the copy failed; the old destination is then untouched.
bool copyFile(const std::string& source, const std::string& destination, bool progress);
