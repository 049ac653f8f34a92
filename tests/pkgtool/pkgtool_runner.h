#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/scratch_root.h"

// Runs build/pkgtool with the arguments. SOURCE_DATE_EPOCH is unset unless the
// environment sets it.
inline RunResult runPkgtool(const std::vector<std::string>& arguments,
                            std::vector<std::string> environment = {}) {
  std::vector<std::string> argv = {PKGTOOL_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  environment.insert(environment.begin(), "SOURCE_DATE_EPOCH");
  return runProgram(argv, "", environment);
}

// The document printed by "pkgtool inspect --json file"; discarded (is_discarded())
// when the command failed or printed no JSON.
inline nlohmann::json inspectJson(const std::string& file) {
  const RunResult result = runPkgtool({"inspect", "--json", file});
  if (result.status != 0) return nlohmann::json(nlohmann::json::value_t::discarded);
  return nlohmann::json::parse(result.out, nullptr, false);
}
