#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pkgtool/key_files.h"

// What the signature part of each package in a file carries and what the installer
// makes of it, behind "verify" and "inspect".

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

// Checks every package of the file held in file with the installer's reader and
// signature check, one report per package header; the containers are not unpacked.
// False, with no reports, when the file is not a package file or its parts do not
// run exactly to its end.
bool verifyPackageFile(const std::string& file, const PublicKeySet& keys,
                       std::vector<PackageSignatureReport>& reports);

// "EdDSA valid, older scheme valid, SHA-1 digest" and the like.
std::string describeSignature(const PackageSignatureReport& report);
