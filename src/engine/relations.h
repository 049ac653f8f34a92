#pragma once

#include <string>

class Package;
struct DependencyEntry;

// Relations between packages; every one is a pure function of the records. Names are
// equal when they have the same bytes; versions and build times compare unsigned,
// priorities signed. satisfies() is in model/package.h.

// Some provides entry of the package has the entry's name and a range overlapping
// the entry's range (0 as an upper bound is none).
bool providesMatch(const Package& package, const DependencyEntry& entry);

// satisfies or providesMatch.
bool qualifies(const Package& package, const DependencyEntry& entry);

// a needs b: b qualifies for one of a's dependencies, or a needs a member of b, or a
// member of a needs b.
bool dependsOn(const Package& a, const Package& b);

// a, installed and active, prevents b: through a's conflicts, or through the
// priorities of what both provide, looking into the members of both. A placeholder
// never blocks and is never blocked.
bool blocks(const Package& a, const Package& b);

// The package or one of its members has the name.
bool covers(const Package& package, const std::string& name);

// -1, 0 or +1: a older than, as old as, newer than b, by version and then build
// time, comparing the member of a bundle that has the other's name; unrelated
// packages compare as 0.
int compareVersions(const Package& a, const Package& b);
