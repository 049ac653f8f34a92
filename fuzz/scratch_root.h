#pragma once

#include <string>

// A private router root for the targets that touch files. The first call creates
// a fresh directory under $TMPDIR (or /tmp) holding flash/, ram/ and tmp/ and
// changes the root directory to it, so that the absolute "/flash" and "/ram"
// paths of the code under test land there; the directory goes away when the
// process exits normally. The working directory is left where it was: libFuzzer's
// corpus and artifact paths must be given relative to it. Aborts when the root
// cannot be changed (the targets run as root).
void enterScratchRoot();

// Writes bytes to path (inside the scratch root), replacing it; false on failure.
bool writeScratchFile(const std::string& path, const char* bytes, size_t size);

// Removes path and everything below it, without following symbolic links.
void removeScratchTree(const std::string& path);
