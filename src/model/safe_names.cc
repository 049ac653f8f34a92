#include "model/safe_names.h"

bool isControlCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

bool hasControlCharacter(std::string_view text) {
  for (const char c : text)
    if (isControlCharacter(c)) return true;
  return false;
}

bool isSafeListName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name)
    if (c == ' ' || isControlCharacter(c)) return false;
  return true;
}

bool isSafePackageName(std::string_view name) {
  return isSafeListName(name) && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos;
}

bool isSafeContainerName(std::string_view name) {
  if (hasControlCharacter(name)) return false;
  for (;;) {
    const size_t slash = name.find('/');
    if (name.substr(0, slash) == "..") return false;
    if (slash == std::string_view::npos) return true;
    name.remove_prefix(slash + 1);
  }
}

bool isInstalledFilePath(std::string_view path) {
  constexpr std::string_view kPrefix = "/flash/";
  if (path.substr(0, kPrefix.size()) != kPrefix) return false;
  if (path.find('\0') != std::string_view::npos) return false;
  path.remove_prefix(kPrefix.size());
  for (;;) {
    const size_t slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    if (component.empty() || component == "." || component == "..") return false;
    if (slash == std::string_view::npos) return true;
    path.remove_prefix(slash + 1);
  }
}
