#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Stand-in for the router's crypto library, over OpenSSL's libcrypto.

// A running digest: feed bytes with update(); finish() writes the digest (20 bytes
// for SHA-1, 32 for SHA-256) and starts a fresh one.
class Digest {
 public:
  virtual ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;
  void update(const void* data, size_t length);
  void finish(uint8_t* out);

 protected:
  explicit Digest(const void* algorithm);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class SHA1 : public Digest {
 public:
  SHA1();
};

class SHA256 : public Digest {
 public:
  SHA256();
};

namespace asn1 {
// A byte range [begin, end), not owned.
struct blob {
  const uint8_t* begin;
  const uint8_t* end;
  size_t size() const { return static_cast<size_t>(end - begin); }
};
}  // namespace asn1

namespace eddsa {
// Ed25519 (RFC 8032): 32-byte public key, 64-byte signature.
bool verify(asn1::blob key, asn1::blob message, asn1::blob signature);
}  // namespace eddsa
