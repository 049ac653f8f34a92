#include "pkgtool/printable_text.h"

#include "model/safe_names.h"

std::string printable(std::string_view text) {
  static const char kHexDigits[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    if (c == '\\') {
      shown += "\\\\";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (isControlCharacter(c)) {
      const auto byte = static_cast<unsigned char>(c);
      shown += "\\x";
      shown += kHexDigits[byte >> 4];
      shown += kHexDigits[byte & 0xF];
    } else {
      shown += c;
    }
  }
  return shown;
}
