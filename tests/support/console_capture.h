#pragma once

#include <iostream>
#include <sstream>
#include <string>

#include "pdb/repository.h"

// Captures what is written to std::cout while it lives.
class ConsoleCapture {
 public:
  ConsoleCapture() : saved_(std::cout.rdbuf(buffer_.rdbuf())) {}
  ~ConsoleCapture() { std::cout.rdbuf(saved_); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  std::string text() const { return buffer_.str(); }
  void clear() { buffer_.str(""); }

 private:
  std::ostringstream buffer_;
  std::streambuf* saved_;
};

// Returns the run's Repository to its state at creation.
inline Repository& freshRepository() {
  Repository& repository = Repository::instance();
  repository.arch.clear();
  repository.clearPackages();
  repository.statusLine.clear();
  repository.messageLog.clear();
  repository.quiet = false;
  return repository;
}
