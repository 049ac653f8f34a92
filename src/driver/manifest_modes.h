#pragma once

// The two modes that work on a deferred install's manifest ("/ram/MANIFEST") alone.
// They run while the command line is parsed, before any change of root.

// Applies the manifest's changes with the spinner ("finishing install... "). The
// manifest stays in place. A damaged manifest is not applied at all: the error
// "could not read /ram/MANIFEST" and status 1. Returns the exit status.
int runCommit();

// Drops the manifest: its prepared files stay where they are, the manifest goes.
void runCancel();
