// The console output layer: messages, the transient status line and the run's
// message log, all kept in the Repository.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "pdb/repository.h"

void Repository::print(const char* prefix, const char* format, va_list arguments) {
  char text[256];  // longer text is cut at 255 characters
  vsnprintf(text, sizeof text, format, arguments);
  const std::string message = std::string(prefix) + text;
  if (quiet) return;
  std::ostream& out = std::cout;
  if (!statusLine.empty()) out << '\r' << std::string(79, ' ') << '\r' << std::flush;
  out << message << '\n' << std::flush;
  if (!statusLine.empty()) out << statusLine << std::flush;
  messageLog.push_back(message);
}

void Repository::warning(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  print("WARNING: ", format, arguments);
  va_end(arguments);
}

void Repository::error(const char* format, ...) {
  setStatus("");
  va_list arguments;
  va_start(arguments, format);
  print("ERROR: ", format, arguments);
  va_end(arguments);
}

void Repository::info(const char* format, ...) {
  setStatus("");
  va_list arguments;
  va_start(arguments, format);
  print("", format, arguments);
  va_end(arguments);
}

void Repository::setStatus(const std::string& text) {
  if (quiet || text == statusLine) return;
  std::ostream& out = std::cout;
  out << "\x1b[?25l\r" << text;
  for (size_t printed = text.size(); printed < statusLine.size(); ++printed) out << ' ';
  out << "\r\x1b[?25h" << std::flush;
  statusLine = text;
}

void Repository::reportCreateFailure(const InstalledPackage& package,
                                     const std::string& path) {
  const int code = errno;
  const std::string name = progressName(package);
  if (code == ENOSPC)
    error("installation of %s failed: disk is too small", name.c_str());
  else if (code == EIO)
    error("installation of %s failed: disk error", name.c_str());
  else
    error("installation of %s failed: could not create %s: %s", name.c_str(), path.c_str(),
          strerror(code));
}

void Repository::reportBrokenPackage(const InstalledPackage& package) {
  error("installation of %s failed: broken package", progressName(package).c_str());
}
