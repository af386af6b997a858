// Plain ASCII charts of signals for a terminal, so that any console shows them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mvmhost {

// A staircase of a signal's level in volts: one row per volt, from the highest whole volt
// reached down to 1, each column showing the highest level among its samples.
std::vector<std::string> levelChart(const std::vector<float>& units, int32_t columns);

// '|' in the columns holding any of the given samples, '.' elsewhere.
std::string markRow(const std::vector<int32_t>& samples, int32_t total, int32_t columns);

// The column a sample falls into when `total` samples are shown in `columns` columns.
int32_t columnOf(int32_t sample, int32_t total, int32_t columns);

}  // namespace mvmhost
