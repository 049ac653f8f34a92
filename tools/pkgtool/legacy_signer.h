#pragma once

#include <cstdint>

#include "pkgtool/key_files.h"

// The signing side of the older scheme (see the project's conventions, "The older
// signature scheme"): scalars modulo the group order ℓ of G, public keys and
// signatures.

// A uniformly random scalar in [1, ℓ): a secret or a nonce.
bool randomScalar(Key32& scalar);

// The public key of secret: u(x·G), little-endian. False when x·G is the point at
// infinity.
bool deriveLegacyPublicKey(const Key32& secret, Key32& publicKey);

// Signature (r, s: 48 bytes) of the 32-byte digest buffer with a fresh random nonce.
// False when the secret is unusable (zero modulo ℓ).
bool signLegacy(const uint8_t digest[32], const Key32& secret, uint8_t signature[48]);
// The same with a given nonce k (little-endian, in [1, ℓ)); for tests.
bool signLegacyWithNonce(const uint8_t digest[32], const Key32& secret, const Key32& nonce,
                         uint8_t signature[48]);
