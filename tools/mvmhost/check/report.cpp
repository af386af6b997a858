#include "tools/mvmhost/check/report.h"

#include <cstdio>
#include <fstream>
#include <ostream>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/files.h"
#include "tools/mvmhost/base/user_text.h"

namespace mvmhost {

const char* statusWord(CheckStatus status) {
    switch (status) {
    case CheckStatus::Pass:
        return "PASS";
    case CheckStatus::Fail:
        return "FAIL";
    case CheckStatus::Skip:
        return "SKIP";
    case CheckStatus::Warn:
        return "WARN";
    default:
        return "NOT RUN";
    }
}

namespace {

constexpr size_t kNameColumn = 26;
// Back to the start of the line and clear it: a start line gives way to its result.
constexpr const char* kClearLine = "\r\033[K";

struct Tally {
    int passed = 0, failed = 0, skipped = 0, warned = 0;
    std::vector<std::string> notRun;
};

Tally tally(const std::vector<CheckResult>& results) {
    Tally t;
    for (const CheckResult& r : results) {
        switch (r.status) {
        case CheckStatus::Pass:
            ++t.passed;
            break;
        case CheckStatus::Fail:
            ++t.failed;
            break;
        case CheckStatus::Skip:
            ++t.skipped;
            break;
        case CheckStatus::Warn:
            ++t.warned;
            break;
        case CheckStatus::NotRun:
            t.notRun.push_back(r.name);
            break;
        }
    }
    return t;
}

std::string padded(std::string name) {
    if (name.size() < kNameColumn) name.resize(kNameColumn, ' ');
    return name;
}

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\')
            out += '\\', out += ch;
        else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else
            out += ch;
    }
    return out + "\"";
}

void writeRun(std::ostream& file, bool strict, const CheckRun& run, const std::string& indent) {
    const Tally t = tally(run.results);
    file << indent << "{\n"
         << indent << "  \"library\": " << jsonText(run.library) << ",\n"
         << indent << "  \"seed\": " << run.seed << ",\n"
         << indent << "  \"strict\": " << (strict ? "true" : "false") << ",\n"
         << indent << "  \"checks\": [";
    for (size_t i = 0; i < run.results.size(); ++i) {
        const CheckResult& r = run.results[i];
        char time[32];
        std::snprintf(time, sizeof time, "%.6f", r.seconds);
        file << (i ? ",\n" : "\n") << indent << "    {\"name\": " << jsonText(r.name)
             << ", \"status\": \"" << statusWord(r.status)
             << "\", \"reason\": " << jsonText(r.reason) << ", \"seconds\": " << time;
        if (!r.mayFollowFrom.empty())
            file << ", \"may_follow_from\": " << jsonText(r.mayFollowFrom);
        file << "}";
    }
    file << "\n"
         << indent << "  ],\n"
         << indent << "  \"passed\": " << t.passed << ",\n"
         << indent << "  \"failed\": " << t.failed << ",\n"
         << indent << "  \"skipped\": " << t.skipped << ",\n"
         << indent << "  \"warned\": " << t.warned << ",\n"
         << indent << "  \"not_run\": [";
    for (size_t i = 0; i < t.notRun.size(); ++i) file << (i ? ", " : "") << jsonText(t.notRun[i]);
    file << "],\n"
         << indent << "  \"first_cause\": "
         << (run.firstCause >= 0 ? jsonText(run.results[static_cast<size_t>(run.firstCause)].name)
                                 : "null")
         << ",\n"
         << indent << "  \"interrupted\": " << (run.interrupted ? "true" : "false") << "\n"
         << indent << "}";
}

}  // namespace

std::string resultLine(const CheckResult& r) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f s", r.seconds);
    const std::string mark =
        r.mayFollowFrom.empty() ? "" : "  [may follow from " + r.mayFollowFrom + "'s fault]";
    return std::string(statusWord(r.status)) + "  " + padded(r.name) + "  " + printable(r.reason) +
           mark + "  (" + time + ")";
}

std::string causeLine(const CheckRun& run) {
    if (run.firstCause < 0) return {};
    const CheckResult& cause = run.results[static_cast<size_t>(run.firstCause)];
    size_t after = 0;
    for (const CheckResult& r : run.results) after += r.mayFollowFrom.empty() ? 0 : 1;
    std::string line = "first cause: " + cause.name +
                       ", whose fault corrupts memory or crashes: " + printable(cause.reason);
    if (after > 0)
        line += "; the " + std::to_string(after) +
                (after == 1 ? " failure after it may follow from it"
                            : " failures after it may follow from it");
    return line;
}

std::string closingLine(const std::vector<CheckResult>& results) {
    const Tally t = tally(results);
    std::string line = std::to_string(t.passed) + " passed, " + std::to_string(t.failed) +
                       " failed, " + std::to_string(t.skipped) + " skipped, " +
                       std::to_string(t.warned) + " warned";
    if (!t.notRun.empty()) {
        line += ", " + std::to_string(t.notRun.size()) + " not run:";
        for (size_t i = 0; i < t.notRun.size(); ++i) line += (i ? ", " : " ") + t.notRun[i];
    }
    return line;
}

void Report::header(const CheckRun& run, size_t checks) {
    out_ << "mvmhost check " << printable(run.library) << "  seed " << run.seed
         << (options_.strict ? "  strict" : "") << "  (" << checks
         << (checks == 1 ? " check)" : " checks)") << std::endl;
}

void Report::starting(const char* check) {
    if (!options_.startLines) return;
    out_ << "....  " << padded(check) << std::flush;
    startShown_ = true;
}

void Report::finished(const CheckResult& result) {
    if (startShown_) out_ << kClearLine;
    startShown_ = false;
    if (options_.onlyFailed && result.status == CheckStatus::Pass) {
        out_ << std::flush;
        return;
    }
    out_ << resultLine(result) << std::endl;
}

void Report::closing(const CheckRun& run) {
    if (startShown_) out_ << kClearLine;
    startShown_ = false;
    if (options_.onlyFailed)
        for (const CheckResult& r : run.results)
            if (r.status == CheckStatus::NotRun) out_ << resultLine(r) << '\n';
    const std::string cause = causeLine(run);
    if (!cause.empty()) out_ << cause << '\n';
    out_ << (run.interrupted ? "interrupted: " : "") << closingLine(run.results) << std::endl;
}

bool writeJson(const std::string& path, bool strict, const std::vector<CheckRun>& runs) {
    try {
        PendingFile pending(path);
        {
            std::ofstream file(pending.tempPath(), std::ios::binary | std::ios::trunc);
            if (!file) return false;
            if (runs.size() == 1) {
                writeRun(file, strict, runs[0], "");
            } else {
                file << "{\n  \"runs\": [\n";
                for (size_t i = 0; i < runs.size(); ++i) {
                    if (i) file << ",\n";
                    writeRun(file, strict, runs[i], "    ");
                }
                file << "\n  ]\n}";
            }
            file << "\n";
            if (!file.flush()) return false;
        }
        pending.commit();  // a file standing there keeps its mode, owner and links
        return true;
    } catch (const Error&) {
        return false;
    }
}

void probeJson(const std::string& path) {
    std::ofstream probe(path + ".part", std::ios::binary | std::ios::trunc);
    if (!probe) throw Error("cannot write " + path);
    probe.close();
    std::remove((path + ".part").c_str());
}

}  // namespace mvmhost
