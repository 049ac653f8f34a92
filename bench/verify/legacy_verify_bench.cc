// One older-scheme verification against one X25519 scalar multiplication of OpenSSL,
// run alternately in one process; prints the medians and their ratios, for the
// default field element form and for the ten-limb form.
//
// On x86-64 processors with ADX and BMI2, OpenSSL multiplies in radix 2^64 with
// instructions a portable build cannot assume; OPENSSL_ia32cap=":~0x80100" in the
// environment hides them, and OpenSSL falls back to radix 2^51, the limb form of the
// default here.

#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_timing.h"
#include "pkgtool/key_files.h"
#include "pkgtool/legacy_signer.h"
#include "verify/signature.h"

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::stoi(argv[1]) : 201;
  const int batch = 10;

  KeySet keys;
  if (!generateKeys(keys)) return 1;
  uint8_t digest[32];
  for (int i = 0; i < 32; ++i) digest[i] = static_cast<uint8_t>(i * 7 + 1);
  uint8_t signature[68] = {};
  if (!signLegacy(digest, keys.legacySecret, signature + 20)) return 1;
  if (!verifyLegacySignature(digest, signature, keys.legacyPublic.data())) {
    std::fprintf(stderr, "signature does not verify\n");
    return 1;
  }

  EVP_PKEY* own = nullptr;
  EVP_PKEY* peer = nullptr;
  EVP_PKEY_CTX* generator = EVP_PKEY_CTX_new_id(EVP_PKEY_X25519, nullptr);
  EVP_PKEY_keygen_init(generator);
  EVP_PKEY_keygen(generator, &own);
  EVP_PKEY_keygen(generator, &peer);
  EVP_PKEY_CTX* derive = EVP_PKEY_CTX_new(own, nullptr);
  EVP_PKEY_derive_init(derive);
  EVP_PKEY_derive_set_peer(derive, peer);

  volatile bool sink = false;
  std::vector<double> legacy, tenLimb, x25519;
  for (int round = 0; round < rounds; ++round) {
    legacy.push_back(timeBatch(batch, [&] {
      sink = verifyLegacySignature(digest, signature, keys.legacyPublic.data());
    }));
    x25519.push_back(timeBatch(batch, [&] {
      uint8_t shared[32];
      size_t length = sizeof shared;
      sink = EVP_PKEY_derive(derive, shared, &length) == 1;
    }));
    tenLimb.push_back(timeBatch(batch, [&] {
      sink = verifyLegacySignatureIn<FieldElement>(digest, signature, keys.legacyPublic.data());
    }));
  }
  EVP_PKEY_CTX_free(derive);
  EVP_PKEY_CTX_free(generator);
  EVP_PKEY_free(own);
  EVP_PKEY_free(peer);

  double x = median(x25519), l = median(legacy), t = median(tenLimb);
  std::printf("rounds %d x %d calls, medians per call\n", rounds, batch);
  std::printf("X25519 (OpenSSL EVP_PKEY_derive)       %8.1f us\n", x);
  std::printf("older-scheme verification (default)    %8.1f us  ratio %.2f\n", l, l / x);
  std::printf("older-scheme verification (ten limbs)  %8.1f us  ratio %.2f\n", t, t / x);
  return 0;
}
