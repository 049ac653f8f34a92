#pragma once

struct Settings;
class Repository;

// Prints the installed packages. Status 0.
int runListing(Repository& repository);

// Uninstalls add-ons not built for the current system generation. Status 0.
int runCleanup(Repository& repository);

// Installs the package or bundle streamed on standard input.
int runStandardInputInstall(Repository& repository, const Settings& settings);

// Installs the package files waiting in the download directories.
int runUpgrade(Repository& repository, const Settings& settings);
