#include "driver/run_modes.h"

#include <iostream>

#include "driver/command_line.h"
#include "driver/listing.h"
#include "pdb/repository.h"

int runListing(Repository& repository) {
  printListing(repository, std::cout);
  return 0;
}

// The cleanup and upgrade runs arrive with the upgrade planner; until then they
// change nothing.
int runCleanup(Repository&) { return 0; }

int runUpgrade(Repository&, const Settings&) { return 0; }
