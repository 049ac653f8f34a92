// Feeds arbitrary bytes to the package reader twice: as an install reads a stream
// (digesting, every byte teed) and as a scan reads a file (no digest, seeking over
// what it does not want). Header parts go into a record, every later part is read
// through, the file container inflated and its entries walked, and at a signature
// part the digest is finished and the signature bytes taken undigested. The tee's
// copy must be exactly the bytes consumed so far: a prefix of the input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "model/package.h"
#include "pkgfile/file_container.h"
#include "pkgfile/package_format.h"
#include "pkgfile/package_reader.h"
#include "verify/signature.h"

namespace {

// Walks the entries of a file container the way extraction does, without files.
void walkContainer(PackageReader& reader) {
  InflatingStreamBuffer inflating(&reader.parts());
  for (;;) {
    uint8_t header[kContainerEntryHeaderSize];
    if (inflating.sgetn(reinterpret_cast<char*>(header), sizeof header) !=
        static_cast<std::streamsize>(sizeof header))
      return;
    const ContainerEntryHeader entry = decodeContainerEntryHeader(header);
    std::string name(entry.nameLength, '\0');
    if (inflating.sgetn(name.data(), entry.nameLength) != entry.nameLength) return;
    if (inflating.pubseekoff(entry.dataLength, std::ios_base::cur, std::ios_base::in) ==
        std::streampos(std::streamoff(-1)))
      return;
  }
}

void readThrough(PackageReader& reader) {
  for (uint32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9, 25}) reader.wantPart(type);
  reader.nextPart();
  InstalledPackage package;
  if (!readHeader(package, reader)) return;
  while (reader.currentPart > 0) {
    if (reader.currentPart == FileContainerPart) walkContainer(reader);
    if (reader.currentPart == BundleEntryTablePart) {
      std::vector<DependencyEntry> entries;
      readEntryTable(reader, entries);
    }
    if (reader.currentPart == SignaturePart && reader.parts().digesting()) {
      reader.parts().finishDigest();
      char signature[kFullSignatureSize];
      reader.parts().readUndigested(signature, sizeof signature);
    }
    if (reader.currentPart == PackageHeaderPart || reader.currentPart == BundleHeaderPart) {
      InstalledPackage member;
      if (!readHeader(member, reader)) break;
      continue;
    }
    reader.nextPart();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  {
    std::istringstream source(input);
    std::ostringstream copy;
    {
      PackageReader reader(source, true, copy.rdbuf());
      readThrough(reader);
    }
    // The reader has gone, so every gathered copy has reached the tee.
    const std::string teed = copy.str();
    if (teed.size() > input.size() || input.compare(0, teed.size(), teed) != 0) abort();
  }
  {
    std::istringstream source(input);
    PackageReader reader(source, false);
    readThrough(reader);
  }
  return 0;
}
