#pragma once

#include "changes/change_set.h"

// The set as one line per change, "<op> <path>[ <argument>]" in key order, so that
// a whole set is compared in one expectation: M Move, T MoveTemp, L Symlink, U Delete.
inline std::string changeText(const ChangeSet& changes) {
  std::string text;
  for (const auto& [path, change] : changes.entries()) {
    const auto op = static_cast<uint32_t>(change.op);
    text += std::string(1, "MT?LU?"[op < 5 ? op : 5]) + " " + path +
            (change.argument.empty() ? "" : " " + change.argument) + "\n";
  }
  return text;
}
