#pragma once

#include <cstdint>

// What installing a package would mean, as the decision rules judge it. The bits sit
// at the positions of the InstallFlags a caller accepts (install_flags.h).
using InstallOutcome = uint32_t;
enum : InstallOutcome {
  Upgrade = 0x01,         // the installed package of the name is older
  Downgrade = 0x02,       // the installed package of the name is newer
  NotInstallable = 0x08,  // flagged state, minimum version, architecture or a requirement
  Conflict = 0x10,        // an active installed package blocks it
  SameVersion = 0x20,     // the installed package has the same version and build time
};
