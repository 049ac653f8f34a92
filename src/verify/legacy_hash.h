#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The older signature scheme's hash: SHA-256 in every step (padding, big-endian
// words, message schedule, 64 rounds, output) but with constants of its own.
//
// A constant table holds 72 words: the 8-word initial hash value, then the 64 round
// constants.

using HashConstants = std::array<uint32_t, 72>;

// The scheme's constants: the low 32 bits of SHA-512's initial hash value and of its
// first 64 round constants.
extern const HashConstants kLegacyHashConstants;
// SHA-256's own constants; with them the routine computes SHA-256.
extern const HashConstants kSha256Constants;

// The 32-byte hash of message with the scheme's constants. The scheme hashes 20- and
// 32-byte messages (one block); longer ones work as SHA-256 would.
std::array<uint8_t, 32> legacyHash(const uint8_t* message, size_t length);
// The same routine over any constant table.
std::array<uint8_t, 32> legacyHash(const uint8_t* message, size_t length,
                                   const HashConstants& constants);
