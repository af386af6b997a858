// Sample files as text: a header row of plug names, then one row per sample in signal units
// (1.0 = 10 V). Numbers are written as the shortest text that reads back as the same float,
// so every platform writes the same bytes for the same samples.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mvmhost {

constexpr size_t kSampleTextMax = 32;  // room for any float's shortest text

// Writes no terminator; answers the end of the text.
char* formatSample(char* out, float value);
std::string formatSample(float value);

// The whole text, blanks around it aside, must be one number ("nan" and "inf" included).
bool parseSample(std::string_view text, float& value);

struct CsvTable {
    std::vector<std::string> names;
    std::vector<std::vector<float>> columns;  // one per name, all the same length
};

// Throws Failure naming the file and line of the first problem.
CsvTable readCsv(const std::string& path);

// The header row without its line end; a name holding a separator or quote is quoted.
std::string csvHeader(const std::vector<std::string>& names);

}  // namespace mvmhost
