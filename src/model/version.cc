#include "model/version.h"

#include <cstdio>

const char* versionText(Version version) {
  static char text[80];
  const unsigned major = version >> 24;
  const unsigned minor = (version >> 16) & 0xFF;
  const unsigned letter = (version >> 8) & 0xFF;
  const unsigned number = version & 0xFF;
  if (letter == 'f') {
    if (number != 0)
      snprintf(text, sizeof text, "%u.%u.%u", major, minor, number);
    else
      snprintf(text, sizeof text, "%u.%u", major, minor);
    return text;
  }
  // Letters other than a, b and c carry no word; the unsigned difference makes
  // everything below 'a' fall out of range as well.
  static const char* const words[] = {"alpha", "beta", "rc"};
  const char* word = (letter - 'a' <= 2u) ? words[letter - 'a'] : "";
  if (number != 0)
    snprintf(text, sizeof text, "%u.%u%s%u", major, minor, word, number);
  else
    snprintf(text, sizeof text, "%u.%u%s", major, minor, word);
  return text;
}
