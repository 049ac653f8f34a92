#include "platform/support_library.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "model/version.h"

namespace {

uint32_t parseVersionWord(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) return 0;
  return static_cast<uint32_t>(value);
}

}  // namespace

uint32_t getMinHalvaneVersion() {
  return parseVersionWord(getenv("HALVANE_MIN_VERSION"));
}

std::string version2string(unsigned version) { return versionText(version); }

namespace sv {

const ModeRecord* halvaneMode() {
  static ModeRecord record = [] {
    ModeRecord r{};
    const char* flagged = getenv("HALVANE_FLAGGED");
    r.flagged = (flagged != nullptr && *flagged != '\0' && strcmp(flagged, "0") != 0) ? 1 : 0;
    return r;
  }();
  return &record;
}

}  // namespace sv
