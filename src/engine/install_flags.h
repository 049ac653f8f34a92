#pragma once

#include <cstdint>

// Kinds of change a caller accepts when installing.
using InstallFlags = uint32_t;
enum : InstallFlags {
  AllowUpgrade = 0x01,
  AllowDowngrade = 0x02,
  AllowConflict = 0x10,
  AllowReinstall = 0x20,
};
