#pragma once

#include <vector>

#include "engine/install_flags.h"
#include "model/package.h"

class ChangeSet;
class Repository;

// Performs the whole upgrade into changes: finds the package files waiting in the
// download directories ("/rw/pckg/.download/" unless it holds an IGNORE marker,
// then "/flash/rw/pckg/", then "/flash/var/pckg/": the first that has any), picks
// and orders them, installs them one by one, keeps the files of packages stored
// whole as their images (or as the boot image), and makes sure every name that was
// active before is still answered. "/ram/DOWNGRADE" makes it a downgrade with the
// version floor it holds. Returns copies of the installed candidates in order; on
// any failure the set is discarded and the result is empty.
std::vector<Package> planUpgrade(Repository& repository, ChangeSet& changes, InstallFlags flags);
