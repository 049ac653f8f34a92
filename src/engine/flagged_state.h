#pragma once

#include <cstdint>

// Non-zero when the router is in flagged state: a package built earlier may then
// not replace one built later. Set once, before main, from the system mode record.
extern uint8_t flaggedState;
