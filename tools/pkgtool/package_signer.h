#pragma once

#include <cstdint>
#include <string>

#include "pkgtool/key_files.h"

// Signs every package of a package or bundle file held in memory.

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
// is computed by the installer's own reader and its signature filled in. file is
// left as it was unless the result is Signed.
SignStatus signPackageFile(std::string& file, const SigningKeys& keys,
                           const SignOptions& options);
