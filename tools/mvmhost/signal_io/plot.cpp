#include "tools/mvmhost/signal_io/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "tools/mvmhost/base/files.h"
#include "tools/mvmhost/runtime/interrupts.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
extern char** environ;
#endif

namespace mvmhost {
#if !defined(_WIN32)
namespace {

constexpr int kChildPollMilliseconds = 20;  // how often a wait for gnuplot looks for Ctrl-C

std::string quoted(const std::string& text, char quote) {
    std::string out(1, quote);
    for (char c : text) {
        if (quote == '\'' && c == '\'')
            out += "''";  // gnuplot's single quotes escape by doubling
        else if (quote == '"' && (c == '"' || c == '\\'))
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out + quote;
}

// Low and high of every line, column after column, then one row more at the last sample so
// that the last column's step is drawn to the end.
std::string dataRows(const PlotColumns& columns, const std::vector<PlotPanel>& panels) {
    std::string s;
    char number[32];
    auto row = [&](int64_t x, int32_t c) {
        s += std::to_string(x);
        for (const PlotPanel& panel : panels)
            for (const PlotLine& line : panel.lines)
                for (double v :
                     {line.low[static_cast<size_t>(c)], line.high[static_cast<size_t>(c)]}) {
                    std::snprintf(number, sizeof number, std::isnan(v) ? " NaN" : " %.6g", v);
                    s += number;
                }
        s += "\n";
    };
    for (int32_t c = 0; c < columns.count(); ++c) row(columns.firstSample(c), c);
    const int64_t last = columns.samples() - 1;
    if (last > columns.firstSample(columns.count() - 1)) row(last, columns.count() - 1);
    return s;
}

std::string script(const std::string& output, bool svg, const std::string& title,
                   const PlotColumns& columns, const std::vector<PlotPanel>& panels) {
    std::string s =
        svg ? "set terminal svg size 1100,900 dynamic font 'sans,10' background rgb 'white'\n"
            : "set terminal pngcairo size 1100,900 font 'sans,10'\n";
    s += "set output " + quoted(output, '\'') + "\n$signals << EOD\n" + dataRows(columns, panels) +
         "EOD\n";
    s += "set multiplot layout " + std::to_string(panels.size()) + ",1 title " +
         quoted(title, '"') + "\n";
    s += "set termoption noenhanced\n";  // plug names are text, not markup ("reset@")
    s += "set lmargin 14\nset rmargin 4\nset grid\nset key outside top center horizontal\n";
    s += "set style fill transparent solid 0.35 noborder\n";
    s += "set xrange [0:" + std::to_string(std::max<int64_t>(columns.samples() - 1, 1)) + "]\n";
    size_t column = 2, colour = 1;
    for (size_t p = 0; p < panels.size(); ++p) {
        const PlotPanel& panel = panels[p];
        s += "set ylabel " + quoted(panel.label + " (V)", '"') + "\n";
        s += p + 1 == panels.size() ? "set xlabel 'sample'\n" : "unset xlabel\n";
        s += "set offsets 0, 0, 0.5, 0.5\nplot ";
        for (size_t l = 0; l < panel.lines.size(); ++l, column += 2, ++colour) {
            const PlotLine& line = panel.lines[l];
            const std::string low = std::to_string(column), high = std::to_string(column + 1);
            const std::string style =
                " lw 2 lc " + std::to_string(colour) + (line.dashed ? " dt 2" : "");
            // Where a column holds many samples the band between its low and high is filled.
            s += (l ? ", " : "") + std::string("$signals using 1:") + low + ":" + high +
                 " with filledcurves lc " + std::to_string(colour) +
                 " notitle, $signals using 1:" + low + " with steps" + style +
                 " notitle, $signals using 1:" + high + " with steps" + style +
                 (panel.lines.size() > 1 ? " title " + quoted(line.title, '"') : " notitle");
        }
        s += "\n";
    }
    return s + "unset multiplot\n";
}

}  // namespace
#endif

PlotColumns::PlotColumns(int64_t samples)
    : samples_(std::max<int64_t>(samples, 1)),
      count_(static_cast<int32_t>(std::min<int64_t>(samples_, kPlotColumns))) {}

PlotLine::PlotLine(std::string title_, const PlotColumns& columns, bool dashed_)
    : title(std::move(title_)),
      low(static_cast<size_t>(columns.count()), NAN),
      high(static_cast<size_t>(columns.count()), NAN),
      dashed(dashed_) {}

void PlotLine::addVolts(const PlotColumns& columns, int64_t sample, double volts) {
    if (!std::isfinite(volts)) return;  // no level to draw
    const auto c = static_cast<size_t>(columns.of(sample));
    if (!(low[c] <= volts)) low[c] = volts;  // NaN compares false: the column's first sample
    if (!(high[c] >= volts)) high[c] = volts;
}

void PlotLine::add(const PlotColumns& columns, int64_t first, const float* units, int32_t count) {
    for (int32_t i = 0; i < count; ++i) addVolts(columns, first + i, units[i] * 10.0);
}

bool isPicturePath(const std::string& path) {
    const std::string ext = lowerExtension(path);
    return ext == ".png" || ext == ".svg";
}

PlotSink::PlotSink(const HostedModule& host, int64_t samples, BlockSink& next)
    : columns_(samples), next_(next) {
    for (bool inputs : {true, false})
        for (const HostPlug& plug : host.plugs())
            if (plug.isSignal() && plug.isInput() == inputs) {
                plugs_.push_back(plug.index);
                lines_.emplace_back(plug.name, columns_);
            }
}

void PlotSink::take(const HostedModule& host, int32_t first, int32_t count) {
    for (size_t p = 0; p < plugs_.size(); ++p)
        lines_[p].add(columns_, first, host.buffer(plugs_[p]), count);
    next_.take(host, first, count);
}

std::vector<PlotPanel> PlotSink::panels() const {
    std::vector<PlotPanel> panels;
    for (const PlotLine& line : lines_) panels.push_back({line.title, {line}});
    return panels;
}

bool drawPicture(const std::string& temporary, bool svg, const std::string& title,
                 const PlotColumns& columns, const std::vector<PlotPanel>& panels,
                 std::string& reason) {
#if defined(_WIN32)
    (void)temporary, (void)svg, (void)title, (void)columns, (void)panels;
    reason = "this build draws no pictures";
    return false;
#else
    const std::string text = script(temporary, svg, title, columns, panels);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return reason = std::strerror(errno), false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char program[] = "gnuplot";
    char* argv[] = {program, nullptr};
    pid_t pid;
    const int spawned = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (spawned != 0) {
        close(fds[1]);
        reason = spawned == ENOENT ? "gnuplot is not installed (Debian package gnuplot-nox)"
                                   : std::string("cannot run gnuplot: ") + std::strerror(spawned);
        return false;
    }
    // A gnuplot that stops reading must not take this process down with it, nor one that hangs
    // keep it from stopping: on Ctrl-C or SIGTERM it is ended, and the caller hears of the stop.
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    int input = fds[1], status = 0;
    size_t sent = 0;
    for (;;) {
        if (stopRequested()) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
            if (input >= 0) close(input);
            std::signal(SIGPIPE, previous);
            reason = kInterruptedText;
            return false;
        }
        if (input >= 0) {
            pollfd ready{input, POLLOUT, 0};
            poll(&ready, 1, kChildPollMilliseconds);
            const ssize_t n = write(input, text.data() + sent, text.size() - sent);
            if (n > 0) sent += static_cast<size_t>(n);
            if (sent == text.size() || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                close(input);
                input = -1;
            }
            continue;
        }
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR)) break;
        usleep(kChildPollMilliseconds * 1000);
    }
    std::signal(SIGPIPE, previous);
    std::error_code ec;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::filesystem::file_size(temporary, ec) == 0) {
        reason = "gnuplot could not draw it";
        return false;
    }
    return true;
#endif
}

}  // namespace mvmhost
