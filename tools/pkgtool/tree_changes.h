#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ViewLayer;

// What a run in an overlay view did to the router's "/flash" tree, compared with the
// root below the view. Directories are not listed, only what they hold: files,
// symbolic links and any other entry.
struct FileChanges {
  std::vector<std::string> added;     // router paths ("/flash/bin/x"), in byte order
  std::vector<std::string> replaced;  // type, permission bits, content or link target differ
  std::vector<std::string> removed;
  // Blocks of the root's files that the run removed or wrote anew, in bytes, by the
  // device they lie on: what each file system gets back when the upgrade is applied.
  std::map<dev_t, uint64_t> freedBytes;
};

// Adds the changes of layer below "/flash" to changes. Only the paths that the
// layer's upper directory holds (and, below them, what the root holds) are looked at:
// every other path of the view is the root's own. The places of the other layers
// are passed over: their changes are theirs. Keeps the lists sorted.
void collectFlashChanges(const ViewLayer& layer, const std::vector<ViewLayer>& layers,
                         FileChanges& changes);
