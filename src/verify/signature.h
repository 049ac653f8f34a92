#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "verify/field_element.h"

class PackageReader;

// Signature part (type 9) payload; only its first 68 or 132 bytes are read:
//   0  20  not examined
//  20  16  r, check value of the older scheme
//  36  32  s, scalar of the older scheme, little-endian
//  68  64  Ed25519 signature of the 32-byte digest buffer (132-byte form only)
// The digest buffer holds the running digest of the package as the reader finished
// it: SHA-1 in its first 20 bytes (the rest zero), or SHA-256 in all 32.
constexpr size_t kLegacySignatureSize = 68;
constexpr size_t kFullSignatureSize = 132;

// What the signature part the reader stands on holds, each form checked on its own.
struct SignatureCheck {
  bool hasLegacy = false;    // at least 68 bytes
  bool hasEddsa = false;     // at least 132 bytes
  bool legacyValid = false;  // checked only as asked, see LegacyCheck
  bool eddsaValid = false;
};

enum class LegacyCheck {
  Never,
  WhenEddsaFails,  // as an install at level 1 needs it
  Always,          // for a report of both forms
};

// Finishes the running digest, reads the signature bytes (132 when the part has
// that many, else 68) straight from the reader, undigested, and checks the forms
// present against the keys (32 bytes each). False when the reader is not digesting
// or not on a signature part, the part is shorter than 68 bytes, or the read comes
// short. The rest of the part is skipped when the reader moves on.
bool checkSignatureForms(PackageReader& reader, const uint8_t legacyKey[32],
                         const uint8_t eddsaKey[32], LegacyCheck legacyCheck,
                         SignatureCheck& forms);

// Checks the signature part the reader stands on against the built-in keys and
// consumes the signature bytes. Level 1 accepts a valid EdDSA signature or else a
// valid older-scheme one; level 2 accepts EdDSA only.
bool verifySignature(PackageReader& reader, int level);
// The same against the given keys (32 bytes each).
bool verifySignature(PackageReader& reader, int level, const uint8_t legacyKey[32],
                     const uint8_t eddsaKey[32]);

// The older scheme's challenge e: legacyHash of the digest buffer's first 20 bytes,
// its bytes 8..23 XORed with r (16 bytes), clamped (byte 0 AND 0xF8, byte 31 AND
// 0x7F OR 0x40). Little-endian.
std::array<uint8_t, 32> legacyChallenge(const uint8_t digest[32], const uint8_t r[16]);

// The Ed25519 form: signature (64 bytes) of the whole 32-byte digest buffer.
bool verifyEddsaSignature(const uint8_t digest[32], const uint8_t signature[64],
                          const uint8_t publicKey[32]);

// The older scheme's check of the first 68 signature bytes over the 32-byte digest
// buffer (of which it hashes the first 20), with the public u-coordinate.
bool verifyLegacySignature(const uint8_t digest[32], const uint8_t signature[68],
                           const uint8_t publicKey[32]);
// The same check computed in a chosen field element form; verifyLegacySignature
// uses CurveElement.
template <typename Element>
bool verifyLegacySignatureIn(const uint8_t digest[32], const uint8_t signature[68],
                             const uint8_t publicKey[32]);
extern template bool verifyLegacySignatureIn<FieldElement>(const uint8_t*, const uint8_t*,
                                                           const uint8_t*);
#if defined(HAVE_FIELD_ELEMENT51)
extern template bool verifyLegacySignatureIn<FieldElement51>(const uint8_t*, const uint8_t*,
                                                             const uint8_t*);
#endif
