#pragma once

class ChangeSet;
class Repository;

// Schedules for removal every installed add-on that was not built for the current
// system generation (its "system" requirement is 3.22 final or older, or it has
// none), except "tolvo", "disk-drivers", "system" and bundles, and enters the
// schedule's changes into the set: first the pending schedule quietly, then with
// messages.
void markForCleanup(Repository& repository, ChangeSet& changes);
