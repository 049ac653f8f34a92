// One EdDSA verification of a package's digest against the digest of a 1 MB package
// read through the installer's reader, run alternately; prints the medians.

#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include "bench_timing.h"
#include "pkgfile/package_reader.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/key_files.h"
#include "pkgtool/package_signer.h"
#include "platform/crypto.h"
#include "verify/signature.h"

namespace {

// A signed package of about size bytes; the opaque payload holds random bytes.
std::string bigPackage(size_t size, const SigningKeys& keys) {
  PackageLayout layout;
  layout.meta.name = "bench";
  layout.meta.version = 0x07106300;
  layout.files = {{"bin/bench", 0100755, "x"}};
  layout.hasPayload = true;
  std::mt19937 random(1);
  layout.payload.resize(size);
  for (char& c : layout.payload) c = static_cast<char>(random());
  std::string file = buildPackageFile(layout);
  signPackageFile(file, keys, SignOptions{});
  return file;
}

// Reads the package through the digest up to its signature part; the digest buffer.
bool digestPackage(const std::string& file, uint8_t digest[32], bool verify) {
  std::istringstream in(file);
  PackageReader reader(in, true);
  reader.wantPart(SignaturePart);
  if (reader.nextPart() != SignaturePart) return false;
  if (verify) return verifySignature(reader, 2);
  reader.parts().finishDigest();
  std::memcpy(digest, reader.parts().digestValue(), 32);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::stoi(argv[1]) : 101;
  SigningKeys keys;
  if (!readSigningKeys(std::string(SOURCE_DIR) + "/keys/legacy.secret",
                       std::string(SOURCE_DIR) + "/keys/eddsa.secret", keys))
    return 1;
  std::string file = bigPackage(1 << 20, keys);
  uint8_t digest[32];
  if (!digestPackage(file, digest, false) || !digestPackage(file, digest, true)) {
    std::fprintf(stderr, "package does not verify\n");
    return 1;
  }
  const uint8_t* signature = reinterpret_cast<const uint8_t*>(file.data()) + file.size() - 64;
  PublicKeySet publicKeys = builtInPublicKeys();

  volatile bool sink = false;
  std::vector<double> eddsaTimes, digestTimes, wholeTimes;
  for (int round = 0; round < rounds; ++round) {
    eddsaTimes.push_back(timeBatch(20, [&] {
      sink = eddsa::verify(asn1::blob{publicKeys.eddsa.data(), publicKeys.eddsa.data() + 32},
                           asn1::blob{digest, digest + 32}, asn1::blob{signature, signature + 64});
    }));
    digestTimes.push_back(timeBatch(1, [&] { sink = digestPackage(file, digest, false); }));
    wholeTimes.push_back(timeBatch(1, [&] { sink = digestPackage(file, digest, true); }));
  }
  double e = median(eddsaTimes), d = median(digestTimes), w = median(wholeTimes);
  std::printf("package of %zu bytes, %d rounds, medians per call\n", file.size(), rounds);
  std::printf("EdDSA verification of the digest      %9.1f us\n", e);
  std::printf("digest of the package (reader, SHA-1) %9.1f us  (%.1f x the verification)\n", d,
              d / e);
  std::printf("digest and verifySignature, level 2   %9.1f us\n", w);
  return 0;
}
