#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_root.h"

using nlohmann::json;
using namespace nlohmann::literals;

// Runs build/pkgtool with the blank-separated words of line, a word "@x" standing for
// dir.at("x"), and expects the exit status. SOURCE_DATE_EPOCH is unset unless the
// environment sets it.
inline RunResult pkgtool(const ScratchRoot& dir, const std::string& line, int status = 0,
                         std::vector<std::string> environment = {}) {
  std::vector<std::string> argv = {PKGTOOL_BINARY};
  std::istringstream words(line);
  for (std::string word; words >> word;)
    argv.push_back(word[0] == '@' ? dir.at(word.substr(1)) : word);
  environment.insert(environment.begin(), "SOURCE_DATE_EPOCH");
  const RunResult result = runProgram(argv, "", environment);
  EXPECT_EQ(result.status, status) << line << "\n" << result.out << result.err;
  return result;
}

// The document of "pkgtool inspect --json @file"; an empty object when there is none.
inline json inspectJson(const ScratchRoot& dir, const std::string& file, int status = 0) {
  const json doc = json::parse(pkgtool(dir, "inspect --json @" + file, status).out, nullptr, false);
  return doc.is_discarded() ? json::object() : doc;
}

// The part types of an inspect document, in file order.
inline std::vector<unsigned> partTypes(const json& doc) {
  std::vector<unsigned> types;
  for (const json& part : doc.value("parts", json::array())) types.push_back(part["type"]);
  return types;
}

// Every key of the object expected has its value in actual.
inline void expectFields(const json& actual, const json& expected) {
  for (const auto& [key, value] : expected.items())
    EXPECT_EQ(actual.contains(key) ? actual.at(key) : json(), value) << key << ": " << actual;
}
