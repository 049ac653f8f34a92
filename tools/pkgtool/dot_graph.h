#pragma once

#include <string>
#include <string_view>

class Repository;

// The installed set as a Graphviz graph: one node per package (name and version,
// disabled ones grey), the members of a bundle in a cluster of that bundle, a
// requirement as an arrow to the package that answers it (the first that the
// installer's provider search finds) or to a dashed "missing" node, and a conflict
// with an installed package as a dashed arrow.
std::string dotGraph(const Repository& repository);

// text as a quoted DOT string that shows it as printable() does: control characters
// escaped, and every quote and backslash escaped once more for DOT itself, so that
// no name can end the string, start an attribute or a label escape such as "\N".
std::string dotQuoted(std::string_view text);
