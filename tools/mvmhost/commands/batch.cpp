#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/commands/commands.h"
#include "tools/mvmhost/runtime/interrupts.h"

namespace mvmhost {
namespace {

// A batch line's words: blanks separate them, '...' and "..." hold blanks (and make a word of
// nothing, as in ""), and inside "..." a backslash keeps a following " or \ as it is. Other
// backslashes are plain characters, as in Windows paths. Empty when the line is only a comment.
std::vector<std::string> batchWords(const std::string& line) {
    std::vector<std::string> words;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') return words;
    std::string word;
    bool inWord = false;
    for (size_t i = first; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c != '\'' && c != '"') {
            word += c;
            continue;
        }
        size_t j = i + 1;
        for (; j < line.size() && line[j] != c; ++j) {
            const bool escaped = c == '"' && line[j] == '\\' && j + 1 < line.size() &&
                                 (line[j + 1] == '"' || line[j + 1] == '\\');
            word += line[escaped ? ++j : j];
        }
        if (j == line.size()) throw Error(std::string("a ") + c + " is not closed");
        i = j;
    }
    if (inWord) words.push_back(word);
    return words;
}

}  // namespace

int failWith(const std::string& message) {
    std::fprintf(stderr, "mvmhost: %s\n", printable(message).c_str());
    return exit_status::kCannotRun;
}

namespace {
int batchDepth = 0;  // a batch runs no batch: its lines would run again without end
}  // namespace

// Every line a command line of its own, run in this one process: a host that takes a minute
// to start under emulation checks many things in one go. A failing line is reported and the
// next one runs; the status is the worst line's.
int batchCommand(const std::string& path,
                 const std::function<int(const std::vector<std::string>&)>& runLine) {
    if (batchDepth > 0) throw Error("a batch file cannot run another batch");
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw Error("cannot read " + path + ": it is a directory, not a file");
    if (!std::filesystem::exists(path, ec)) throw Error("cannot read " + path + ": no such file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("cannot read " + path + ": permission denied");
    // Held for the whole file, so that Ctrl-C between two lines stops the batch too.
    InterruptWatch watch;
    int worst = 0, number = 0;
    std::string line;
    ++batchDepth;
    while (std::getline(in, line)) {
        ++number;
        int status;
        std::vector<std::string> args;
        try {
            args = batchWords(line);
            if (args.empty()) continue;
            std::fflush(stdout);
            status = runLine(args);
        } catch (const Error& e) {
            if (e.interruption()) throw;
            status = failWith(path + ":" + std::to_string(number) + ": " + e.what());
        }
        std::fflush(stderr);
        std::printf("batch: line %d: exit %d\n", number, status);
        worst = std::max(worst, status);
        // A line stopped by Ctrl-C stops the batch; that line has said so already.
        if (const int stop = stopRequested()) {
            --batchDepth;
            return stop;
        }
    }
    --batchDepth;
    return worst;
}

}  // namespace mvmhost
