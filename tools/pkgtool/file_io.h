#pragma once

#include <string>

// Whole-file reads and writes of the package tool.

// Reads the whole regular file at path into bytes. False when it cannot be read
// (errno tells why).
bool readWholeFile(const std::string& path, std::string& bytes);

// Writes bytes to path through a temporary file in the same directory that is
// renamed over path when complete, so that a failed write leaves any old file whole.
// The file gets mode 0644. False when it cannot be written (errno tells why).
bool writeWholeFile(const std::string& path, const std::string& bytes);
