#pragma once

#include <cstdint>

// The public keys that package signatures are checked against. They are compiled in
// from the key files named when the build is configured (keys/legacy.public and
// keys/eddsa.public unless a vendor names its own).

// u-coordinate of the older scheme's public point, little-endian.
extern const uint8_t legacyPublicKey[32];
// Ed25519 public key.
extern const uint8_t eddsaPublicKey[32];
