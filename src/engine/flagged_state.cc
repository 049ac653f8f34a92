#include "engine/flagged_state.h"

#include "platform/support_library.h"

// Read by a static initialiser so that the value is fixed before any other code
// of the program runs.
uint8_t flaggedState = sv::halvaneMode()->flagged;
