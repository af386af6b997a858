#include "tools/mvmhost/commands/terminal_view.h"

#include <algorithm>
#include <cmath>

namespace mvmhost {

int32_t columnOf(int32_t sample, int32_t total, int32_t columns) {
    return static_cast<int32_t>(int64_t{sample} * columns / std::max(total, 1));
}

std::vector<std::string> levelChart(const std::vector<float>& units, int32_t columns) {
    const int32_t total = static_cast<int32_t>(units.size());
    std::vector<double> highest(static_cast<size_t>(columns), -INFINITY);
    for (int32_t s = 0; s < total; ++s) {
        double& h = highest[static_cast<size_t>(columnOf(s, total, columns))];
        if (!std::isnan(units[static_cast<size_t>(s)]))
            h = std::max(h, units[static_cast<size_t>(s)] * 10.0);
    }
    double top = 0;
    for (double h : highest) top = std::max(top, h);
    const int32_t rows = static_cast<int32_t>(std::lround(std::min(top, 100.0)));
    std::vector<std::string> chart;
    for (int32_t level = rows; level >= 1; --level) {
        std::string row;
        for (double h : highest) row += h >= level - 0.5 ? '#' : ' ';
        chart.push_back(row);
    }
    return chart;
}

std::string markRow(const std::vector<int32_t>& samples, int32_t total, int32_t columns) {
    std::string row(static_cast<size_t>(columns), '.');
    for (int32_t s : samples)
        if (s >= 0 && s < total) row[static_cast<size_t>(columnOf(s, total, columns))] = '|';
    return row;
}

}  // namespace mvmhost
