#include "pkgtool/version_parse.h"

#include <cstdint>

namespace {

// Takes a run of decimal digits from the front of text; false when there is none
// or its value exceeds 255.
bool takeNumber(std::string_view& text, unsigned& number) {
  size_t length = 0;
  unsigned value = 0;
  while (length < text.size() && text[length] >= '0' && text[length] <= '9') {
    value = value * 10 + static_cast<unsigned>(text[length] - '0');
    if (value > 255) return false;
    ++length;
  }
  if (length == 0) return false;
  text.remove_prefix(length);
  number = value;
  return true;
}

}  // namespace

bool parseVersionText(std::string_view text, Version& version) {
  unsigned major, minor;
  if (!takeNumber(text, major) || !text.starts_with('.')) return false;
  text.remove_prefix(1);
  if (!takeNumber(text, minor)) return false;

  uint8_t letter = 'f';
  unsigned number = 0;
  if (text.starts_with('.')) {
    text.remove_prefix(1);
    if (!takeNumber(text, number)) return false;
  } else if (!text.empty()) {
    static const struct {
      std::string_view word;
      uint8_t letter;
    } kWords[] = {{"alpha", 'a'}, {"beta", 'b'}, {"rc", 'c'}};
    bool known = false;
    for (const auto& [word, wordLetter] : kWords) {
      if (text.starts_with(word)) {
        text.remove_prefix(word.size());
        letter = wordLetter;
        known = true;
        break;
      }
    }
    if (!known) return false;
    if (!text.empty() && !takeNumber(text, number)) return false;
  }
  if (!text.empty()) return false;
  version = (major << 24) | (minor << 16) | (static_cast<unsigned>(letter) << 8) | number;
  return true;
}
