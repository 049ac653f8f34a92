#include "pkgtool/key_files.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "pkgtool/eddsa_signer.h"
#include "pkgtool/legacy_signer.h"
#include "platform/file_handles.h"
#include "verify/public_keys.h"

namespace {

std::string toHex(const Key32& key) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const uint8_t byte : key) {
    out += digits[byte >> 4];
    out += digits[byte & 0xF];
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool readKeyFile(const std::string& path, Key32& key) {
  std::ifstream in(path);
  if (!in) return false;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  if (end - begin != 2 * key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    const int high = hexValue(text[begin + 2 * i]);
    const int low = hexValue(text[begin + 2 * i + 1]);
    if (high < 0 || low < 0) return false;
    key[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

bool writeKeyFile(const std::string& path, const Key32& key, unsigned mode) {
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd.valid()) return false;
  const std::string line = toHex(key) + "\n";
  const bool written =
      ::write(fd.get(), line.data(), line.size()) == static_cast<ssize_t>(line.size());
  if (fd.close() && written) return true;
  ::unlink(path.c_str());  // ours, since it did not exist before
  return false;
}

bool derivePublicKeys(KeySet& keys) {
  return deriveLegacyPublicKey(keys.legacySecret, keys.legacyPublic) &&
         deriveEddsaPublicKey(keys.eddsaSecret, keys.eddsaPublic);
}

bool generateKeys(KeySet& keys) {
  if (!randomScalar(keys.legacySecret)) return false;
  if (RAND_priv_bytes(keys.eddsaSecret.data(), keys.eddsaSecret.size()) != 1) return false;
  return derivePublicKeys(keys);
}

bool writeKeys(const std::string& directory, const KeySet& keys) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) return false;
  const Key32* const inFileOrder[] = {&keys.legacySecret, &keys.legacyPublic, &keys.eddsaSecret,
                                      &keys.eddsaPublic};
  for (size_t i = 0; i < std::size(kKeyFileNames); ++i) {
    const std::string_view name = kKeyFileNames[i];
    const unsigned mode = name.ends_with(".secret") ? 0600 : 0644;
    if (!writeKeyFile((fs::path(directory) / name).string(), *inFileOrder[i], mode)) {
      // An existing file (or a failed write) leaves none of ours behind.
      for (size_t j = 0; j < i; ++j) fs::remove(fs::path(directory) / kKeyFileNames[j], error);
      return false;
    }
  }
  return true;
}

bool readSigningKeys(const std::string& legacySecretPath, const std::string& eddsaSecretPath,
                     SigningKeys& keys) {
  return readKeyFile(legacySecretPath, keys.legacySecret) &&
         readKeyFile(eddsaSecretPath, keys.eddsaSecret);
}

PublicKeySet builtInPublicKeys() {
  PublicKeySet keys;
  std::memcpy(keys.legacy.data(), legacyPublicKey, keys.legacy.size());
  std::memcpy(keys.eddsa.data(), eddsaPublicKey, keys.eddsa.size());
  return keys;
}
