#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "changes/change_set.h"

// The spinner a copy with progress turns on standard output: the clock-tick mark
// of its turns (0 = not started) and which of its four characters (bar, slash,
// hyphen, backslash) comes next.
extern uint32_t spinnerMark;
extern uint32_t spinnerIndex;

// The moves of the set in the order the apply makes them: key order, but the files
// of the package database ("/flash/var/pdb/") after all others, so that a run cut
// short never records a package as installed before its files are in place.
std::vector<const std::map<std::string, Change>::value_type*> movesInApplyOrder(
    const ChangeSet& changes);

// Carries out the set: first every deletion and link in key order, then every move
// in the order above, with the data flushed to disk before and after the moves. A
// move across file systems is copied. progress turns the spinner. The set keeps
// its entries.
void apply(const ChangeSet& changes, bool progress);

// Copies a regular file's bytes and permission bits to destination, through a
// temporary file beside it (its name and ".copying", so that a copy cut short is
// taken over by the next one) that replaces it only when the whole copy succeeded. Returns false when the copy failed (with a "copy" line on
// standard error, except for a source that is missing or not a regular file); the
// old destination is then untouched.
bool copyFile(const std::string& source, const std::string& destination, bool progress);
