#pragma once

#include "engine/install_flags.h"
#include "engine/install_outcome.h"

class Package;
class Repository;

// What installing the candidate would mean against the installed set, as outcome
// bits, with at most one message for the first problem found. accepted holds the
// outcome bits the caller expects (no message for them); 0xFFFFFFFF silences every
// message but the flagged-state warning. Reads the repository, changes nothing.
InstallOutcome evaluateInstall(Repository& repository, const Package& candidate,
                               InstallFlags accepted);
