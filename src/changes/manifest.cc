#include "changes/manifest.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string_view>

#include "changes/change_set.h"

namespace {

// The escapes of the system's mount table: they keep every field free of the
// blanks that separate fields and of the line feed that ends a line.
struct Escape {
  char character;
  std::string_view text;
};
constexpr Escape kEscapes[] = {
    {' ', "\\040"}, {'\t', "\\011"}, {'\n', "\\012"}, {'\\', "\\134"}};

std::string escape(const std::string& field) {
  std::string text;
  text.reserve(field.size());
  for (const char c : field) {
    bool escaped = false;
    for (const Escape& e : kEscapes)
      if (c == e.character) {
        text += e.text;
        escaped = true;
        break;
      }
    if (!escaped) text += c;
  }
  return text;
}

// Any backslash that does not start one of the four escapes stands for itself.
std::string unescape(std::string_view field) {
  std::string text;
  text.reserve(field.size());
  size_t i = 0;
  while (i < field.size()) {
    bool decoded = false;
    if (field[i] == '\\')
      for (const Escape& e : kEscapes)
        if (field.substr(i, e.text.size()) == e.text) {
          text += e.character;
          i += e.text.size();
          decoded = true;
          break;
        }
    if (!decoded) text += field[i++];
  }
  return text;
}

// Splits at single blanks into at most three fields; the third keeps any blanks.
size_t splitFields(std::string_view line, std::string_view fields[3]) {
  size_t count = 0;
  while (count < 2) {
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) break;
    fields[count++] = line.substr(0, blank);
    line.remove_prefix(blank + 1);
  }
  fields[count++] = line;
  return count;
}

}  // namespace

bool writeManifest(const ChangeSet& changes, const std::string& path) {
  std::string temporary = parentDirectory(path) + "/tmpXXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  close(fd);
  std::ofstream out(temporary, std::ios::out | std::ios::trunc | std::ios::binary);
  for (const auto& [target, change] : changes.entries()) {
    switch (change.op) {
      case ChangeOp::Delete:
        out << "U " << escape(target) << '\n';
        break;
      case ChangeOp::Symlink:
        out << "L " << escape(target) << ' ' << escape(change.argument) << '\n';
        break;
      case ChangeOp::Move:
      case ChangeOp::MoveTemp:
        out << "M " << escape(target) << ' ' << escape(change.argument) << '\n';
        break;
    }
  }
  out.flush();
  bool written = out.good();
  int code = errno;
  out.close();
  if (written && out.fail()) {
    written = false;
    code = errno;
  }
  if (written && rename(temporary.c_str(), path.c_str()) == 0) return true;
  if (written) code = errno;
  unlink(temporary.c_str());
  errno = code;
  return false;
}

ManifestRead readManifest(ChangeSet& changes, const std::string& path) {
  std::ifstream in(path, std::ios::in | std::ios::binary);
  if (!in.is_open()) return ManifestRead::Missing;
  std::string line;
  while (in.good()) {
    std::getline(in, line);
    if (line.empty()) break;
    std::string_view fields[3];
    const size_t count = splitFields(line, fields);
    if (count < 2) return ManifestRead::Damaged;
    const std::string_view kind = fields[0];
    if (kind != "U" && kind != "L" && kind != "M") continue;
    // A NUL byte cannot stand in a path: the line was damaged.
    if (line.find('\0') != std::string::npos) return ManifestRead::Damaged;
    if (kind == "U") {
      changes.put(unescape(fields[1]), ChangeOp::Delete, "");
      continue;
    }
    if (count < 3) return ManifestRead::Damaged;
    const ChangeOp op = kind == "L" ? ChangeOp::Symlink : ChangeOp::Move;
    changes.put(unescape(fields[1]), op, unescape(fields[2]));
  }
  return ManifestRead::Whole;
}
