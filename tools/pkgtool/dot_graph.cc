#include "pkgtool/dot_graph.h"

#include <map>
#include <set>
#include <vector>

#include "engine/providers.h"
#include "engine/relations.h"
#include "pdb/repository.h"
#include "pkgtool/printable_text.h"

namespace {

// The text of a quoted DOT string without its quotes. A backslash stays a
// backslash only when doubled: alone it would start a label escape.
std::string dotEscaped(std::string_view text) {
  std::string escaped;
  for (const char c : printable(text)) {
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// A label of several lines, each escaped; "\n" between them is DOT's line break.
std::string dotLabel(std::initializer_list<std::string_view> lines) {
  std::string label = "\"";
  for (const std::string_view line : lines) {
    if (label.size() > 1) label += "\\n";
    label += dotEscaped(line);
  }
  return label + '"';
}

// Node names: the package's name, which holds no blank, so that the names of
// requirements nobody answers ("missing NAME-VERSION") and of a second package of
// the same name ("NAME #2") never meet a package's.
class NodeNames {
 public:
  explicit NodeNames(const Repository& repository) {
    std::map<std::string, int> seen;
    for (const auto& package : repository.packages) {
      const int count = ++seen[package->name];
      std::string name = package->name;
      if (count > 1) name += " #" + std::to_string(count);
      names_[package.get()] = dotQuoted(name);
    }
  }
  const std::string& of(const InstalledPackage* package) const { return names_.at(package); }

 private:
  std::map<const InstalledPackage*, std::string> names_;
};

void writeNode(std::string& dot, const std::string& indent, const std::string& name,
               const InstalledPackage& package) {
  const std::string version = versionText(package.version);
  dot += indent + name + " [label=";
  dot += package.disabled ? dotLabel({package.name, version, "disabled"})
                          : dotLabel({package.name, version});
  if (package.isBundle) dot += ", shape=box3d";
  if (package.disabled) dot += ", color=gray60, fontcolor=gray60";
  dot += "];\n";
}

}  // namespace

std::string dotQuoted(std::string_view text) { return '"' + dotEscaped(text) + '"'; }

std::string dotGraph(const Repository& repository) {
  const NodeNames names(repository);
  std::string dot =
      "digraph \"installed packages\" {\n"
      "  node [shape=box, style=rounded, fontname=\"Helvetica\"];\n"
      "  edge [fontname=\"Helvetica\", fontsize=10];\n";

  // A bundle's cluster holds its members and the bundle itself, in installed order.
  std::map<std::string, std::vector<const InstalledPackage*>> bundles;
  for (const auto& package : repository.packages)
    if (!package->bundle.name.empty()) bundles[package->bundle.name].push_back(package.get());
  for (const auto& package : repository.packages) {
    const auto bundle = bundles.find(package->name);
    if (package->isBundle && bundle != bundles.end())
      bundle->second.insert(bundle->second.begin(), package.get());
  }
  int cluster = 0;
  std::set<const InstalledPackage*> placed;
  for (const auto& [bundle, members] : bundles) {
    dot += "  subgraph \"cluster_" + std::to_string(cluster++) + "\" {\n";
    dot += "    label=" + dotLabel({"bundle " + bundle}) + ";\n";
    dot += "    style=rounded; color=gray40;\n";
    for (const InstalledPackage* member : members) {
      writeNode(dot, "    ", names.of(member), *member);
      placed.insert(member);
    }
    dot += "  }\n";
  }
  for (const auto& package : repository.packages)
    if (!placed.contains(package.get())) writeNode(dot, "  ", names.of(package.get()), *package);

  std::set<std::string> missing;
  for (const auto& package : repository.packages) {
    const std::string& from = names.of(package.get());
    for (const DependencyEntry& requirement : package->dependencies) {
      const std::vector<InstalledPackage*> providers = collectProviders(repository, requirement);
      if (providers.empty()) {
        const std::string wanted = bundleRefName(requirement);
        const std::string node = dotQuoted("missing " + wanted);
        if (missing.insert(node).second)
          dot += "  " + node + " [label=" + dotLabel({wanted, "missing"}) + ", style=dashed];\n";
        dot += "  " + from + " -> " + node + " [style=dashed];\n";
        continue;
      }
      // Answered through what another package provides: the edge says which name.
      dot += "  " + from + " -> " + names.of(providers.front());
      if (providers.front()->name != requirement.name)
        dot += " [label=" + dotLabel({requirement.name}) + "]";
      dot += ";\n";
    }
    for (const DependencyEntry& conflict : package->conflicts)
      for (const auto& other : repository.packages)
        if (other != package && !other->isPlaceholder() && qualifies(*other, conflict))
          dot += "  " + from + " -> " + names.of(other.get()) +
                 " [style=dashed, color=red, arrowhead=tee, label=\"conflicts\"];\n";
  }
  return dot + "}\n";
}
