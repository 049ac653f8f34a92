#pragma once

#include <map>
#include <string>
#include <vector>

#include "pkgtool/package_builder.h"
#include "pkgtool/package_signer.h"
#include "support/scratch_root.h"

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

// A package named name at version carrying bin/NAME, which holds text (the name when
// text is empty).
PackageLayout toolPackage(const std::string& name, Version version, const std::string& text = "");

// A bundle named name at version, with a fixed build time, of the members.
BundleLayout bundleLayout(const std::string& name, Version version,
                          std::vector<PackageLayout> members);

// Appends a part after the last one and fixes the file header's length word.
std::string withPart(std::string file, uint16_t type, const std::string& payload);

// Every entry below root, one line each in path order: "path mode content" for a
// file (content escaped), "path -> target" for a link, "path/" for a directory.
// Two equal snapshots mean a byte-for-byte equal tree.
std::string treeSnapshot(const std::string& root);

// Temporary files of change sets ("tmp" and six characters) left below root.
std::vector<std::string> leftoverTemporaries(const std::string& root);

// A scratch root with an empty package database.
struct RouterRoot : ScratchRoot {
  RouterRoot() { makeDirectory("flash/var/pdb"); }
};

// A database entry of root as an earlier run left it: "version" (with build time
// 1700000000), "deps" and "files" (empty unless files names them) and any other file
// of the directory that files names, with its content.
void writeEntry(const ScratchRoot& root, const std::string& name, Version version,
                std::map<std::string, std::string> files = {});

// Installs file through "installer -", which must succeed, and removes the change
// marker and the post-install log the run left.
void installThroughStdin(const ScratchRoot& root, const std::string& file);

// Runs "installer -r ROOT arguments" with stdinData and expects status and the message
// lines, and a tree left as it was but for those lines in the post-install log (which
// is removed here), with no temporary file.
void expectUnchangedRun(const ScratchRoot& root, const std::vector<std::string>& arguments,
                        int status, const std::string& lines, const std::string& stdinData = "",
                        const std::vector<std::string>& environment = {});
