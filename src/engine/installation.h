#pragma once

#include <istream>
#include <map>
#include <streambuf>
#include <string>

#include "engine/install_flags.h"

class ChangeSet;
class InstalledPackage;
class PackageReader;
class Repository;
struct DependencyEntry;

// Enable states the user chose earlier: package name -> disabled.
using UserChoices = std::map<std::string, bool>;

// Installs what one package stream carries, a single package or a bundle with its
// members, into changes and the installed set. tee (optional) receives a copy of
// every byte read. dbPathOut (optional) receives the database directory of a
// package that this call installed, unpacked and verified, and that carries an
// opaque payload: the caller keeps the stream's file there as its image. bootOut
// (optional) tells whether that image is the whole boot image. Results:
//   0 installed (a single package also when accepted as already installed)
//   1 header unreadable; bundle header with relations; bundle entry not written;
//     single package not installed
//   2 bundle refused, a member failed, or unexpected parts after the members
//   3 bundle without any member installed
int installStream(Repository& repository, ChangeSet& changes, std::istream& source,
                  InstallFlags flags, const UserChoices& userChoices, std::streambuf* tee,
                  std::string* dbPathOut, bool* bootOut);

// Installs the package whose header part the reader stands on; bundleRef is the
// bundle reference of a member, or null. Returns the package now in the installed
// set (the new record, or the installed one when it was accepted as installed or,
// for a member, passed over), or null on failure.
InstalledPackage* installPackage(Repository& repository, ChangeSet& changes,
                                 PackageReader& reader, InstallFlags flags,
                                 const UserChoices& userChoices, const DependencyEntry* bundleRef,
                                 std::string* dbPathOut, bool* bootOut);

// Whether the package's database directory may be written: a pending deletion of it
// is cancelled; any other pending change of it, or a file in its place, says no.
bool databaseDirAvailable(const InstalledPackage& package, ChangeSet& changes);
