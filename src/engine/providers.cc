#include "engine/providers.h"

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/relations.h"
#include "model/package.h"
#include "pdb/repository.h"

bool willBeActive(const InstalledPackage& package) {
  return package.scheduledAction == ScheduledAction::Enable ||
         (!package.disabled && package.scheduledAction == ScheduledAction::None);
}

bool isDormant(const InstalledPackage& package) {
  if (package.disabled) return package.scheduledAction != ScheduledAction::Enable;
  return package.scheduledAction == ScheduledAction::Disable;
}

namespace {

// Whether the package has the name or provides it: only then can it qualify for an
// entry of that name. Cheap enough to pass over most of a large installed set.
bool answersName(const Package& package, const std::string& name) {
  if (package.name == name) return true;
  for (const DependencyEntry& provided : package.provides)
    if (provided.name == name) return true;
  return false;
}

}  // namespace

std::vector<InstalledPackage*> collectProviders(const Repository& repository,
                                                const DependencyEntry& entry) {
  std::vector<InstalledPackage*> providers;
  for (const auto& package : repository.packages)
    if (answersName(*package, entry.name) && !package->isPlaceholder() &&
        qualifies(*package, entry))
      providers.push_back(package.get());
  return providers;
}

InstalledPackage* findBlocker(const Repository& repository, const Package& candidate) {
  for (const auto& package : repository.packages)
    if (!package->disabled && blocks(*package, candidate)) return package.get();
  return nullptr;
}

DependencyOutlook dependencyOutlook(const std::vector<InstalledPackage*>& packages) {
  bool dormant = false;
  for (const InstalledPackage* package : packages) {
    if (willBeActive(*package)) return DependencyOutlook::Available;
    if (isDormant(*package)) dormant = true;
  }
  return dormant ? DependencyOutlook::DisabledOnly : DependencyOutlook::Missing;
}

namespace {

using Indices = std::vector<size_t>;

// Packages are added in array order, and all the names of one package before the
// next: a package that has a name and also provides it is listed once.
void addOnce(Indices& list, size_t index) {
  if (list.empty() || list.back() != index) list.push_back(index);
}

// The action one requirement's outlook gives the package: its own when the
// requirement asks for no change.
ScheduledAction withdrawnAction(const InstalledPackage& package, DependencyOutlook outlook) {
  const ScheduledAction action = package.scheduledAction;
  if (outlook == DependencyOutlook::Missing) return ScheduledAction::Uninstall;
  if (outlook != DependencyOutlook::DisabledOnly) return action;
  if (action == ScheduledAction::Uninstall || action == ScheduledAction::Disable) return action;
  if (package.disabled && action == ScheduledAction::None) return action;
  return ScheduledAction::Disable;
}

}  // namespace

// The rule is to scan the installed set and start again after every change; on a
// chain of requirements against the array order that takes one scan per link, each
// asking every package for every requirement. Actions here only move towards less
// active (none or enable, then disable, then uninstall), and a package that becomes
// less active answers no requirement better than before, so no change is ever
// undone and the order of the looks does not matter: the scan ends with the same
// actions whatever the order. A package therefore needs another look only when one
// that answers a name it needs has changed, and only the packages that have or
// provide a name can answer it.
void withdrawUnsatisfied(Repository& repository) {
  const auto& packages = repository.packages;
  // Built for this pass alone: it changes actions, never the array or the names. A
  // set without requirements, as after each member of a large bundle, costs one look
  // at each package.
  std::unordered_map<std::string_view, Indices> needing;
  for (size_t i = 0; i < packages.size(); ++i)
    for (const DependencyEntry& entry : packages[i]->dependencies) addOnce(needing[entry.name], i);
  if (needing.empty()) return;
  std::unordered_map<std::string_view, Indices> answering;
  const auto mayAnswer = [&](const std::string& name, size_t i) {
    if (needing.count(name) != 0) addOnce(answering[name], i);
  };
  for (size_t i = 0; i < packages.size(); ++i) {
    const InstalledPackage& package = *packages[i];
    if (package.isPlaceholder()) continue;
    mayAnswer(package.name, i);
    for (const DependencyEntry& provided : package.provides) mayAnswer(provided.name, i);
  }

  std::vector<InstalledPackage*> providers;
  const auto outlook = [&](const DependencyEntry& entry) {
    providers.clear();
    if (const auto found = answering.find(entry.name); found != answering.end())
      for (const size_t i : found->second)
        if (qualifies(*packages[i], entry)) providers.push_back(packages[i].get());
    return dependencyOutlook(providers);
  };

  // A package without requirements never changes here.
  std::deque<size_t> waiting;
  std::vector<bool> queued(packages.size(), false);
  for (size_t i = 0; i < packages.size(); ++i)
    if (!packages[i]->dependencies.empty()) {
      queued[i] = true;
      waiting.push_back(i);
    }
  const auto wake = [&](const std::string& name) {
    const auto found = needing.find(name);
    if (found == needing.end()) return;
    for (const size_t i : found->second)
      if (!queued[i]) {
        queued[i] = true;
        waiting.push_back(i);
      }
  };

  while (!waiting.empty()) {
    const size_t index = waiting.front();
    waiting.pop_front();
    queued[index] = false;
    InstalledPackage& package = *packages[index];
    const ScheduledAction before = package.scheduledAction;
    // After a change the package's requirements are judged again from the first:
    // a disabled package may still lose one outright.
    for (bool changed = true; changed;) {
      changed = false;
      for (const DependencyEntry& entry : package.dependencies) {
        const ScheduledAction action = withdrawnAction(package, outlook(entry));
        if (action == package.scheduledAction) continue;
        package.scheduledAction = action;
        changed = true;
        break;
      }
    }
    if (package.scheduledAction == before) continue;
    wake(package.name);
    for (const DependencyEntry& provided : package.provides) wake(provided.name);
  }
}
