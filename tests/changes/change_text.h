#pragma once

#include <string>

#include "changes/change_set.h"

// The set as one line per change, "<op> <path>[ <argument>]" in key order, so that
// a whole set is compared in one expectation. MoveTemp shows as "T".
inline std::string changeText(const ChangeSet& changes) {
  std::string text;
  for (const auto& [path, change] : changes.entries()) {
    switch (change.op) {
      case Move: text += "M "; break;
      case MoveTemp: text += "T "; break;
      case Symlink: text += "L "; break;
      case Delete: text += "U "; break;
      default: text += "? "; break;
    }
    text += path;
    if (!change.argument.empty()) text += " " + change.argument;
    text += "\n";
  }
  return text;
}
