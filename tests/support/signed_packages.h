#pragma once

#include <string>
#include <vector>

#include "pkgtool/package_builder.h"
#include "pkgtool/package_signer.h"

// Package files signed with the development keys of keys/, and views of a router
// root that whole-program tests compare.

SigningKeys developmentKeys();

// A package file made from layout and signed (every package of it) with the
// development keys.
std::string signedPackageFile(const PackageLayout& layout,
                              SignatureForms forms = SignatureForms::Both,
                              uint32_t magic = kPackageMagic);
std::string signedBundleFile(const BundleLayout& layout);

// A package named name at version with the given files and a fixed build time.
PackageLayout packageLayout(const std::string& name, Version version,
                            std::vector<ContainerEntry> files = {});

// Appends a part after the last one and fixes the file header's length word.
std::string withPart(std::string file, uint16_t type, const std::string& payload);

// Every entry below root, one line each in path order: "path mode content" for a
// file (content escaped), "path -> target" for a link, "path/" for a directory.
// Two equal snapshots mean a byte-for-byte equal tree.
std::string treeSnapshot(const std::string& root);

// Temporary files of change sets ("tmp" and six characters) left below root.
std::vector<std::string> leftoverTemporaries(const std::string& root);
