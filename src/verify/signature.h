#pragma once

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

// Checks the signature part the reader stands on against the built-in keys and
// consumes the signature bytes. Level 1 accepts a valid EdDSA signature or else a
// valid older-scheme one; level 2 accepts EdDSA only.
bool verifySignature(PackageReader& reader, int level);
// The same against the given keys (32 bytes each).
bool verifySignature(PackageReader& reader, int level, const uint8_t legacyKey[32],
                     const uint8_t eddsaKey[32]);

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
