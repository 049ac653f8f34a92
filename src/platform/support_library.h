#pragma once

#include <cstdint>
#include <string>

// Stand-in for the router's support library. On this machine its facts come from
// the environment:
//   HALVANE_MIN_VERSION  lowest accepted system version, one packed Version in
//                        decimal or 0x-hex; unset, empty or unparsable means 0
//   HALVANE_FLAGGED      flagged state when set to anything but "" or "0"

// Lowest system version the router accepts.
uint32_t getMinHalvaneVersion();

// Text form of a version, as the rest of the system writes it.
std::string version2string(unsigned version);

namespace sv {
// The system mode record; the byte at offset 1 is non-zero in flagged state.
struct ModeRecord {
  uint8_t generation;
  uint8_t flagged;
  uint8_t reserved[6];
};
const ModeRecord* halvaneMode();
}  // namespace sv
