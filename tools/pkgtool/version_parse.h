#pragma once

#include <string_view>

#include "model/version.h"

// Reads the text form of a version back into the packed word: "6.42" and "6.42.3"
// (final releases), "6.41alpha2", "7.1beta3", "6.41rc5", "6.41beta" (pre-releases,
// the number optional). Every number is 0..255. False for any other text.
bool parseVersionText(std::string_view text, Version& version);
