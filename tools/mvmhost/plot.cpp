#include "tools/mvmhost/plot.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "tools/mvmhost/sample_writers.h"

#if !defined(_WIN32)
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace mvmhost {
#if !defined(_WIN32)
namespace {

std::string quoted(const std::string& text, char quote) {
    std::string out(1, quote);
    for (char c : text) {
        if (quote == '\'' && c == '\'') out += "''";  // gnuplot's single quotes escape by doubling
        else if (quote == '"' && (c == '"' || c == '\\')) out += std::string("\\") + c;
        else out += c;
    }
    return out + quote;
}

std::string script(const std::string& output, bool svg, const std::string& title,
                   const std::vector<PlotPanel>& panels) {
    std::string s = svg ? "set terminal svg size 1100,900 dynamic font 'sans,10'\n"
                        : "set terminal pngcairo size 1100,900 font 'sans,10'\n";
    s += "set output " + quoted(output, '\'') + "\n$signals << EOD\n";
    size_t samples = 0;
    for (const PlotPanel& panel : panels)
        for (const PlotLine& line : panel.lines) samples = std::max(samples, line.volts.size());
    char number[32];
    for (size_t i = 0; i < samples; ++i) {
        s += std::to_string(i);
        for (const PlotPanel& panel : panels)
            for (const PlotLine& line : panel.lines) {
                std::snprintf(number, sizeof number, " %.6g", i < line.volts.size() ? line.volts[i] : 0.0);
                s += number;
            }
        s += "\n";
    }
    s += "EOD\n";
    s += "set multiplot layout " + std::to_string(panels.size()) + ",1 title " + quoted(title, '"') + "\n";
    s += "set termoption noenhanced\n";  // plug names are text, not markup ("reset@")
    s += "set lmargin 14\nset rmargin 4\nset grid\nset key outside top center horizontal\n";
    s += "set xrange [0:" + std::to_string(samples > 0 ? samples - 1 : 1) + "]\n";
    size_t column = 2;
    for (size_t p = 0; p < panels.size(); ++p) {
        const PlotPanel& panel = panels[p];
        s += "set ylabel " + quoted(panel.label + " (V)", '"') + "\n";
        s += p + 1 == panels.size() ? "set xlabel 'sample'\n" : "unset xlabel\n";
        s += "set offsets 0, 0, 0.5, 0.5\nplot ";
        for (size_t l = 0; l < panel.lines.size(); ++l, ++column) {
            const PlotLine& line = panel.lines[l];
            s += (l ? ", " : "") + std::string("$signals using 1:") + std::to_string(column) +
                 " with steps lw 2" + (line.dashed ? " dt 2" : "") +
                 (panel.lines.size() > 1 ? " title " + quoted(line.title, '"') : " notitle");
        }
        s += "\n";
    }
    return s + "unset multiplot\n";
}

}  // namespace
#endif

bool drawPicture(const std::string& path, const std::string& title,
                 const std::vector<PlotPanel>& panels, std::string& reason) {
#if defined(_WIN32)
    (void)path, (void)title, (void)panels;
    reason = "this build draws no pictures";
    return false;
#else
    PendingFile file(path);
    const bool svg = std::filesystem::path(path).extension() == ".svg";
    const std::string text = script(file.tempPath(), svg, title, panels);

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
    // A gnuplot that stops reading must not take this process down with it.
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    for (size_t sent = 0; sent < text.size();) {
        const ssize_t n = write(fds[1], text.data() + sent, text.size() - sent);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    close(fds[1]);
    std::signal(SIGPIPE, previous);
    int status = 0;
    waitpid(pid, &status, 0);
    std::error_code ec;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || std::filesystem::file_size(file.tempPath(), ec) == 0) {
        reason = "gnuplot could not draw it";
        return false;
    }
    file.commit();
    return true;
#endif
}

}  // namespace mvmhost
