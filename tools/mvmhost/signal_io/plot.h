// A picture of signals, drawn by gnuplot running as a child process. Each signal is kept as
// its lowest and highest level in every pixel column, so a picture of any render, however
// long, takes the same memory; where a column holds one sample the two are that sample.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mvmhost/runtime/render_loop.h"

namespace mvmhost {

constexpr int32_t kPlotColumns = 1000;  // of the picture's 1100 pixels, the rest is margin

// Which pixel column every sample of a render of `samples` falls into.
class PlotColumns {
public:
    explicit PlotColumns(int64_t samples);
    int32_t count() const { return count_; }
    int32_t of(int64_t sample) const { return static_cast<int32_t>(sample * count_ / samples_); }
    int64_t firstSample(int32_t column) const {
        return (int64_t{column} * samples_ + count_ - 1) / count_;
    }
    int64_t samples() const { return samples_; }

private:
    int64_t samples_;
    int32_t count_;
};

struct PlotLine {
    std::string title;
    std::vector<double> low, high;  // volts, one pair per column; NaN where the column has none
    bool dashed = false;

    PlotLine(std::string title, const PlotColumns& columns, bool dashed = false);
    void add(const PlotColumns& columns, int64_t first, const float* units, int32_t count);
    void addVolts(const PlotColumns& columns, int64_t sample, double volts);
};

// Panels stacked over one axis of sample numbers.
struct PlotPanel {
    std::string label;  // on the vertical axis
    std::vector<PlotLine> lines;
};

// Whether the path names a picture this host draws: .png or .svg.
bool isPicturePath(const std::string& path);

// Writes a PNG, or an SVG when the path ends in .svg, to `temporary`; the caller puts it in
// place. Answers false, with the reason, when no picture could be made (no gnuplot, a build
// without pictures).
bool drawPicture(const std::string& temporary, bool svg, const std::string& title,
                 const PlotColumns& columns, const std::vector<PlotPanel>& panels,
                 std::string& reason);

// Keeps a line for every Signal plug of a render, block by block, and passes each block on.
class PlotSink : public BlockSink {
public:
    PlotSink(const HostedModule& host, int64_t samples, BlockSink& next);
    void take(const HostedModule& host, int32_t first, int32_t count) override;
    // One panel per plug, the inputs first.
    std::vector<PlotPanel> panels() const;
    const PlotColumns& columns() const { return columns_; }

private:
    PlotColumns columns_;
    std::vector<int32_t> plugs_;
    std::vector<std::string> names_;
    std::vector<PlotLine> lines_;
    BlockSink& next_;
};

}  // namespace mvmhost
