#include "engine/signature_level.h"

#include <sys/stat.h>

#include "model/package.h"

int signatureLevelFor(const Package& package) {
  if (package.name == "branding") return 1;
  const Version v = package.version;
  if (v <= 0x062E6608) return 1;  // up to 6.46.8
  if (v <= 0x062EFFFF) return 2;  // below 6.47
  if (v <= 0x06306600) return 1;  // 6.47 up to 6.48
  if (v <= 0x06FFFFFF) return 2;  // below major 7
  if (v <= 0x07016203) return 1;  // up to 7.1beta3
  return 2;
}

int requiredSignatureLevel(const Package& package) {
  struct stat info;
  if (stat("/ram/SECURE", &info) == 0) return 2;
  return signatureLevelFor(package);
}
