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
// database: for each entry of "/flash/var/pdb/", imageDirectory + <name>, or with
// an empty imageDirectory "/flash/var/pdb/<name>/image"; for a bundle image its
// members first, then the bundle. Only regular files are read as images, and a
// record whose name is not a safe package name is dropped. False when
// "/flash/var/pdb/" cannot be opened.
bool scanInstalledImages(Repository& repository, const std::string& imageDirectory);
