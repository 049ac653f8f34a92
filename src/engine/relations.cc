#include "engine/relations.h"

#include "model/package.h"

bool providesMatch(const Package& package, const DependencyEntry& entry) {
  for (const DependencyEntry& provided : package.provides) {
    if (provided.name != entry.name) continue;
    const bool apart = provided.minVersion != 0 && entry.maxVersion != 0 &&
                       provided.minVersion > entry.maxVersion;
    if (apart) continue;
    if (provided.maxVersion == 0 || provided.maxVersion >= entry.minVersion) return true;
  }
  return false;
}

bool qualifies(const Package& package, const DependencyEntry& entry) {
  return satisfies(package, entry) || providesMatch(package, entry);
}

bool dependsOn(const Package& a, const Package& b) {
  for (const DependencyEntry& entry : a.dependencies)
    if (qualifies(b, entry)) return true;
  for (const auto& member : b.members)
    if (dependsOn(a, *member)) return true;
  for (const auto& member : a.members)
    if (dependsOn(*member, b)) return true;
  return false;
}

namespace {

const DependencyEntry* findNamed(const std::vector<DependencyEntry>& entries,
                                 const std::string& name) {
  for (const DependencyEntry& entry : entries)
    if (entry.name == name) return &entry;
  return nullptr;
}

}  // namespace

bool blocks(const Package& a, const Package& b) {
  // Without conflicts, provides or members on the sides that the rules below read,
  // no rule can hold; most pairs of a large installed set are such pairs.
  if (a.conflicts.empty() && a.provides.empty() && a.members.empty() && b.provides.empty() &&
      b.members.empty())
    return false;
  if (a.isPlaceholder() || b.isPlaceholder()) return false;
  for (const DependencyEntry& conflict : a.conflicts)
    if (satisfies(b, conflict)) return true;

  // A package that provides another's own name replaces it (priority 0 or more) or
  // yields to it (negative); between two providers of a name the higher priority
  // wins and equal priorities coexist.
  if (const DependencyEntry* providesA = findNamed(b.provides, a.name))
    return providesA->priority < 0;
  for (const DependencyEntry& provided : a.provides) {
    if (provided.name == b.name) return provided.priority >= 0;
    if (const DependencyEntry* rival = findNamed(b.provides, provided.name))
      return provided.priority > rival->priority;
  }

  for (const DependencyEntry& conflict : a.conflicts)
    if (providesMatch(b, conflict)) return true;
  for (const auto& member : b.members)
    if (member->name == a.name) return true;
  for (const auto& member : a.members)
    if (blocks(*member, b)) return true;
  return false;
}

bool covers(const Package& package, const std::string& name) {
  if (package.name == name) return true;
  for (const auto& member : package.members)
    if (member->name == name) return true;
  return false;
}

int compareVersions(const Package& a, const Package& b) {
  const Package* left = &a;
  const Package* right = &b;
  int sign = 1;
  for (;;) {
    if (left->name == right->name) {
      if (left->version != right->version) return left->version < right->version ? -sign : sign;
      if (left->buildTime != right->buildTime)
        return left->buildTime < right->buildTime ? -sign : sign;
      return 0;
    }
    const Package* member = nullptr;
    for (const auto& candidate : left->members)
      if (candidate->name == right->name) {
        member = candidate.get();
        break;
      }
    if (member != nullptr) {
      left = member;
      continue;
    }
    for (const auto& candidate : right->members)
      if (candidate->name == left->name) {
        member = candidate.get();
        break;
      }
    if (member == nullptr) return 0;
    // The member of the right side becomes the left, the old left the right.
    right = left;
    left = member;
    sign = -sign;
  }
}
