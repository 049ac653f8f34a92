#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "verify/field_element.h"

// The rows of a vector file under VECTORS_DIR, split at white space; comment lines
// (starting with '#') and empty lines left out.
inline std::vector<std::vector<std::string>> readVectorFile(const std::string& name) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(std::string(VECTORS_DIR) + "/" + name);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::vector<std::string> row;
    for (std::string field; fields >> field;) row.push_back(field);
    if (!row.empty() && row[0][0] != '#') rows.push_back(row);
  }
  return rows;
}

// Hex to bytes; "-" is the empty string.
inline std::vector<uint8_t> fromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

template <typename Bytes>
std::string toHex(const Bytes& bytes) {
  std::string out;
  for (uint8_t b : bytes) out.append({"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0xF]});
  return out;
}

// The field element forms that typed tests run over.
#if defined(HAVE_FIELD_ELEMENT51)
using FieldForms = ::testing::Types<FieldElement, FieldElement51>;
#else
using FieldForms = ::testing::Types<FieldElement>;
#endif
