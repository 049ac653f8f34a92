#pragma once

class Package;

// Signature levels: 1 accepts a valid EdDSA signature or else a valid older-scheme
// one, 2 accepts EdDSA only.

// The level a package needs by its name and version alone, as on a router without
// "/ram/SECURE": "branding" 1; then by the packed version, 1 up to 6.46.8, 2 below
// 6.47, 1 up to 6.48, 2 below 7, 1 up to 7.1beta3, 2 above.
int signatureLevelFor(const Package& package);

// The level an install asks of the package: 2 whenever "/ram/SECURE" exists,
// otherwise signatureLevelFor.
int requiredSignatureLevel(const Package& package);
