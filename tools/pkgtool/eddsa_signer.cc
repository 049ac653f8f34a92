#include "pkgtool/eddsa_signer.h"

#include <openssl/evp.h>

#include <memory>

namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::unique_ptr<EVP_PKEY, PkeyFree> eddsaKey(const Key32& seed) {
  return std::unique_ptr<EVP_PKEY, PkeyFree>(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
}

}  // namespace

bool deriveEddsaPublicKey(const Key32& seed, Key32& publicKey) {
  const auto key = eddsaKey(seed);
  size_t length = publicKey.size();
  return key && EVP_PKEY_get_raw_public_key(key.get(), publicKey.data(), &length) == 1 &&
         length == publicKey.size();
}

bool signEddsa(const Key32& seed, const uint8_t* message, size_t length, uint8_t signature[64]) {
  const auto key = eddsaKey(seed);
  std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
  size_t signatureLength = 64;
  return key && context &&
         EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestSign(context.get(), signature, &signatureLength, message, length) == 1 &&
         signatureLength == 64;
}
