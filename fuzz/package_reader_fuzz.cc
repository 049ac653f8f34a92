// Feeds arbitrary bytes to the package reader as an install reads a stream: header
// parts into a record, every later part read through (the file container inflated
// and its entries walked), and the signature checked at both levels.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "model/package.h"
#include "pkgfile/file_container.h"
#include "pkgfile/package_reader.h"
#include "verify/signature.h"

namespace {

// Walks the entries of a file container the way extraction does, without files.
void walkContainer(PackageReader& reader) {
  InflatingStreamBuffer inflating(&reader.parts());
  for (;;) {
    char header[kContainerEntryHeaderSize];
    if (inflating.sgetn(header, sizeof header) != static_cast<std::streamsize>(sizeof header))
      return;
    const auto* bytes = reinterpret_cast<const uint8_t*>(header);
    std::string name(readLe16(bytes + 28), '\0');
    if (inflating.sgetn(name.data(), static_cast<std::streamsize>(name.size())) !=
        static_cast<std::streamsize>(name.size()))
      return;
    if (inflating.pubseekoff(readLe32(bytes + 24), std::ios_base::cur, std::ios_base::in) ==
        std::streampos(std::streamoff(-1)))
      return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (int level = 1; level <= 2; ++level) {
    std::istringstream source(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream copy;
    PackageReader reader(source, true, copy.rdbuf());
    for (uint32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.wantPart(type);
    reader.nextPart();
    InstalledPackage package;
    if (!readHeader(package, reader)) continue;
    while (reader.currentPart > 0) {
      if (reader.currentPart == FileContainerPart) walkContainer(reader);
      if (reader.currentPart == SignaturePart) verifySignature(reader, level);
      if (reader.currentPart == PackageHeaderPart) {
        InstalledPackage member;
        if (!readHeader(member, reader)) break;
        continue;
      }
      reader.nextPart();
    }
  }
  return 0;
}
