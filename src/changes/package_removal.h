#pragma once

class ChangeSet;
class InstalledPackage;

// Records the removal of everything an installed package put on the flash: its
// files, its database directory and kept image, and for the boot package the boot
// image when nothing else links to it. Empties files and resets scheduledAction.
void removePackageFiles(InstalledPackage& package, ChangeSet& changes);
