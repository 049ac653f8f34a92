// Feeds a package file to the signature check as an install meets it: a digesting
// reader walks the parts an install wants and verifies every signature part it
// stands on, at level 1 and at level 2.
//
// Built twice. signature_fuzz checks both levels, so that every input whose EdDSA
// form fails also runs the older scheme's curve arithmetic (some hundred
// microseconds). signature_frame_fuzz (SIGNATURE_FRAMING_ONLY) checks level 2
// alone, which never reaches the older scheme, and fuzzes the part's framing, the
// digest switch and the digest buffer many times faster.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "pkgfile/package_format.h"
#include "pkgfile/package_reader.h"
#include "verify/signature.h"

namespace {

void verifyEverySignature(const std::string& input, int level) {
  std::istringstream source(input);
  PackageReader reader(source, true);
  for (const uint32_t type : {PackageHeaderPart, BundleHeaderPart, BundleEntryTablePart,
                              ArchitecturePart, DependenciesPart, ProvidesPart, ConflictsPart,
                              OpaquePayloadPart, FileContainerPart, SignaturePart})
    reader.wantPart(type);
  while (reader.nextPart() > 0)
    if (reader.currentPart == SignaturePart) verifySignature(reader, level);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
#if !defined(SIGNATURE_FRAMING_ONLY)
  verifyEverySignature(input, 1);
#endif
  verifyEverySignature(input, 2);
  return 0;
}
