#pragma once

#include <cstdint>

// What this run is to do with an installed package: left by the schedule word under
// "/ram/pdb/", by broken metadata, by an install or by the clean-up. The numbers
// are the ones the rest of the system uses.
enum class ScheduledAction : uint32_t {
  None = 0,
  Uninstall = 1,
  Enable = 2,
  Disable = 3,
};

// The word for an action in messages and schedule files: "", "uninstall", "enable",
// "disable".
inline const char* actionWord(ScheduledAction action) {
  switch (action) {
    case ScheduledAction::Uninstall:
      return "uninstall";
    case ScheduledAction::Enable:
      return "enable";
    case ScheduledAction::Disable:
      return "disable";
    case ScheduledAction::None:
      break;
  }
  return "";
}
