#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/package.h"

class Repository;

// Appends a record for every whole package file (".zpk" or ".wpk") of directory
// (ending in "/"), in directory order, with the members of a bundle. Reports each
// broken file as "broken package <file name>".
void scanPackageFiles(const std::string& directory,
                      std::vector<std::unique_ptr<PackageFile>>& found);

// Appends to repository.packages a record for every readable kept image of the
// database: "/flash/var/pdb/<name>/image", or with useImageDirectory
// imageDirectory + <name>; for a bundle image its members first, then the bundle.
// False when "/flash/var/pdb/" cannot be opened.
bool scanInstalledImages(Repository& repository, const std::string& imageDirectory,
                         bool useImageDirectory);
