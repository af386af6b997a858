// A picture of signals, drawn by gnuplot running as a child process.
#pragma once

#include <string>
#include <vector>

namespace mvmhost {

struct PlotLine {
    std::string title;
    std::vector<double> volts;  // one value per sample
    bool dashed = false;
};

// Panels stacked over one axis of sample numbers.
struct PlotPanel {
    std::string label;  // on the vertical axis
    std::vector<PlotLine> lines;
};

// Writes a PNG, or an SVG when the path ends in .svg. Answers false, with the reason, when no
// picture could be made (no gnuplot, a build without pictures); nothing is left half-written.
bool drawPicture(const std::string& path, const std::string& title,
                 const std::vector<PlotPanel>& panels, std::string& reason);

}  // namespace mvmhost
