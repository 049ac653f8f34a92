#pragma once

#include <cstdint>
#include <string>

class ChangeSet;

// The spinner a copy with progress turns on standard output: the clock-tick mark
// of its turns (0 = not started) and which of its four characters (bar, slash,
// hyphen, backslash) comes next.
extern uint32_t spinnerMark;
extern uint32_t spinnerIndex;

// Carries out the set: first every deletion and link, then every move, each phase
// in key order, with the data flushed to disk before and after the moves. A move
// across file systems is copied. progress turns the spinner. The set keeps its
// entries.
void apply(const ChangeSet& changes, bool progress);

// Copies a regular file's bytes and permission bits to destination, through a
// temporary file in the destination's directory that replaces it only when the
// whole copy succeeded. Returns false when the copy failed (with a "copy" line on
// standard error, except for a source that is missing or not a regular file); the
// old destination is then untouched.
bool copyFile(const std::string& source, const std::string& destination, bool progress);
