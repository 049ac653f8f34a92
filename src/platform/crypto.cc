#include "platform/crypto.h"

#include <openssl/evp.h>

struct Digest::State {
  const EVP_MD* algorithm;
  EVP_MD_CTX* context;
  ~State() { EVP_MD_CTX_free(context); }
};

Digest::Digest(const void* algorithm) : state_(std::make_unique<State>()) {
  state_->algorithm = static_cast<const EVP_MD*>(algorithm);
  state_->context = EVP_MD_CTX_new();
  EVP_DigestInit_ex(state_->context, state_->algorithm, nullptr);
}

Digest::~Digest() = default;

void Digest::update(const void* data, size_t length) {
  EVP_DigestUpdate(state_->context, data, length);
}

void Digest::finish(uint8_t* out) {
  EVP_DigestFinal_ex(state_->context, out, nullptr);
  EVP_DigestInit_ex(state_->context, state_->algorithm, nullptr);
}


SHA1::SHA1() : Digest(EVP_sha1()) {}
SHA256::SHA256() : Digest(EVP_sha256()) {}

namespace eddsa {

bool verify(asn1::blob key, asn1::blob message, asn1::blob signature) {
  if (key.size() != 32 || signature.size() != 64) return false;
  EVP_PKEY* publicKey =
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.begin, key.size());
  if (publicKey == nullptr) return false;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = false;
  if (context != nullptr &&
      EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, publicKey) == 1) {
    ok = EVP_DigestVerify(context, signature.begin, signature.size(), message.begin,
                          message.size()) == 1;
  }
  EVP_MD_CTX_free(context);
  EVP_PKEY_free(publicKey);
  return ok;
}

}  // namespace eddsa
