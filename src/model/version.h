#pragma once

#include <cstdint>

// A package version packed into one unsigned word, compared as a plain number:
//   bits 31..24 major, 23..16 minor, 15..8 release letter ('a' alpha, 'b' beta,
//   'c' release candidate, 'f' final), 7..0 pre-release number, or for a final
//   release the third number (0 = none).
using Version = uint32_t;

// Text form of a version ("6.42.3", "6.41rc5", "6.41beta"). The text lives in one
// shared buffer that the next call overwrites: copy it before calling again.
const char* versionText(Version version);
