#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The package tool's signing side: key files, key generation, signing every package
// of a package or bundle file, and the verification report behind `verify` and
// `inspect`.
//
// Key files (keys/ and a vendor's own): one line of lowercase hex, 32 bytes.
//   legacy.secret  scalar x of the older scheme, little-endian
//   legacy.public  u-coordinate of x·G, little-endian
//   eddsa.secret   Ed25519 seed
//   eddsa.public   Ed25519 public key

using Key32 = std::array<uint8_t, 32>;

// Reads a key file: 64 hex digits (either case), surrounding white space allowed.
bool readKeyFile(const std::string& path, Key32& key);
// Writes the key as one line of lowercase hex, creating the file with mode; false
// when the file exists or cannot be written.
bool writeKeyFile(const std::string& path, const Key32& key, unsigned mode = 0644);

struct KeySet {
  Key32 legacySecret{};
  Key32 legacyPublic{};
  Key32 eddsaSecret{};
  Key32 eddsaPublic{};
};

// A fresh key pair of each scheme.
bool generateKeys(KeySet& keys);
// Writes the four key files into directory (created when missing; secrets with mode
// 0600). Refuses, writing nothing, when any of them exists already. False on refusal
// or failure.
bool writeKeys(const std::string& directory, const KeySet& keys);
// Derives the public halves of both schemes from the secrets.
bool derivePublicKeys(KeySet& keys);

struct SigningKeys {
  Key32 legacySecret{};
  Key32 eddsaSecret{};
};

// Reads the two secrets (paths of legacy.secret and eddsa.secret).
bool readSigningKeys(const std::string& legacySecretPath, const std::string& eddsaSecretPath,
                     SigningKeys& keys);

enum class SignatureForms {
  LegacyOnly,  // 68-byte signature part
  Both,        // 132 bytes: older scheme, then EdDSA
};

struct SignOptions {
  SignatureForms forms = SignatureForms::Both;
  // Digest with SHA-256: inserts a digest-switch part (type 25) before the first
  // package header unless one already precedes the first signature part.
  bool sha256 = false;
  // Signature part length; 0 or too short for the forms: exactly what they need.
  // Longer parts end in zero bytes, which the installer skips.
  uint32_t partLength = 0;
};

enum class SignStatus {
  Signed,
  Unreadable,         // not a package file, or its parts run past the end
  NoPackage,          // no package header part
  NoFileContainer,    // a package has neither a signature part nor a file container
  BadKey,             // a secret cannot sign (the older one is zero modulo the group order)
};

// Human-readable text of a status.
const char* signStatusText(SignStatus status);

// Signs every package (type-1 header) of the package or bundle file held in file:
// each package's signature part is resized to the chosen forms (added after its file
// container when missing), the file header's length is fixed, each package's digest
// is computed by the installer's own reader and its signature filled in.
SignStatus signPackageFile(std::string& file, const SigningKeys& keys,
                           const SignOptions& options);

// Older-scheme signature (r, s: 48 bytes) of the 32-byte digest buffer with a
// fresh random nonce. False when the secret is unusable.
bool signLegacy(const uint8_t digest[32], const Key32& secret, uint8_t signature[48]);
// The same with a given nonce k (little-endian, in [1, ℓ)); for tests.
bool signLegacyWithNonce(const uint8_t digest[32], const Key32& secret, const Key32& nonce,
                         uint8_t signature[48]);
// Ed25519 signature of message made with the 32-byte seed.
bool signEddsa(const Key32& seed, const uint8_t* message, size_t length,
               uint8_t signature[64]);

// What one package's signature part carries and what the installer makes of it.
struct PackageSignatureReport {
  std::string name;           // from the package header
  bool sha256 = false;        // digest is SHA-256 (a type-25 part came first)
  bool hasSignature = false;  // a signature part follows the package
  uint32_t signatureLength = 0;
  bool hasLegacy = false;     // at least 68 bytes
  bool hasEddsa = false;      // at least 132 bytes
  bool legacyValid = false;
  bool eddsaValid = false;
  bool acceptedLevel1 = false;  // verifySignature at level 1
  bool acceptedLevel2 = false;  // verifySignature at level 2
};

struct PublicKeySet {
  Key32 legacy{};
  Key32 eddsa{};
};

// The public keys compiled into the installer.
PublicKeySet builtInPublicKeys();

// Checks every package of file with the installer's reader and signature check,
// one report per package header. False, with no reports, when the file is not a
// package file or its parts run past its end.
bool verifyPackageFile(const std::string& file, const PublicKeySet& keys,
                       std::vector<PackageSignatureReport>& reports);
