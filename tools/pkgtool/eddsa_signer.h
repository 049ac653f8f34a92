#pragma once

#include <cstddef>
#include <cstdint>

#include "pkgtool/key_files.h"

// Ed25519 (RFC 8032) signing through OpenSSL, from a 32-byte seed.

// The public key of seed.
bool deriveEddsaPublicKey(const Key32& seed, Key32& publicKey);
// The 64-byte signature of message made with seed.
bool signEddsa(const Key32& seed, const uint8_t* message, size_t length,
               uint8_t signature[64]);
