#pragma once

class ChangeSet;

// Records the empty change marker "/flash/PCKGS_CHANGED" in the set, so that it
// reaches the flash together with the changes it announces to the boot stage.
void recordChangeMarker(ChangeSet& changes);
