#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

// Per-call time in microseconds of batch calls of body.
template <typename Body>
double timeBatch(int batch, Body&& body) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < batch; ++i) body();
  std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / batch;
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}
