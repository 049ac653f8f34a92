#include "driver/change_marker.h"

#include <fstream>

#include "changes/change_set.h"

void recordChangeMarker(ChangeSet& changes) {
  std::ofstream marker;
  changes.createFile(marker, "/flash/PCKGS_CHANGED", 1, 0);
}
