#pragma once

#include <array>
#include <cstdint>
#include <string>

// Signing keys and the files that hold them (keys/ and a vendor's own): one line of
// lowercase hex, 32 bytes each.
//   legacy.secret  scalar x of the older scheme, little-endian
//   legacy.public  u-coordinate of x·G, little-endian
//   eddsa.secret   Ed25519 seed
//   eddsa.public   Ed25519 public key

using Key32 = std::array<uint8_t, 32>;

// The four key files of a key directory, in the order of KeySet's fields.
inline constexpr const char* kKeyFileNames[] = {"legacy.secret", "legacy.public",
                                                "eddsa.secret", "eddsa.public"};

struct KeySet {
  Key32 legacySecret{};
  Key32 legacyPublic{};
  Key32 eddsaSecret{};
  Key32 eddsaPublic{};
};

// The two secrets that sign a package.
struct SigningKeys {
  Key32 legacySecret{};
  Key32 eddsaSecret{};
};

// The two public keys that check a signature.
struct PublicKeySet {
  Key32 legacy{};
  Key32 eddsa{};
};

// Reads a key file: 64 hex digits (either case), surrounding white space allowed.
bool readKeyFile(const std::string& path, Key32& key);
// Writes the key as one line of lowercase hex, creating the file with mode; false
// when the file exists or cannot be written.
bool writeKeyFile(const std::string& path, const Key32& key, unsigned mode = 0644);

// A fresh key pair of each scheme.
bool generateKeys(KeySet& keys);
// Derives the public halves of both schemes from the secrets.
bool derivePublicKeys(KeySet& keys);
// Writes the four key files into directory (created when missing; secrets with mode
// 0600). Refuses, writing nothing, when any of them exists already. False on refusal
// or failure.
bool writeKeys(const std::string& directory, const KeySet& keys);

// Reads the two secrets (paths of legacy.secret and eddsa.secret).
bool readSigningKeys(const std::string& legacySecretPath, const std::string& eddsaSecretPath,
                     SigningKeys& keys);

// The public keys compiled into the installer.
PublicKeySet builtInPublicKeys();
