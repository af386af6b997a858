// What a run prints: a line as each check starts (on a terminal), one line per result, the
// closing line with the tally and what did not run, and the JSON file.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/mvmhost/check/check.h"

namespace mvmhost {

const char* statusWord(CheckStatus status);
std::string resultLine(const CheckResult& result);
// "first cause: NAME, whose fault corrupts memory or crashes: REASON; the N failures after it
// may follow from it", or empty when no fault corrupted memory or crashed.
std::string causeLine(const CheckRun& run);
// "N passed, M failed, K skipped, W warned", then ", R not run: a, b" when some did not run.
std::string closingLine(const std::vector<CheckResult>& results);

class Report {
public:
    Report(std::ostream& out, const CheckOptions& options) : out_(out), options_(options) {}

    void header(const CheckRun& run, size_t checks);
    void starting(const char* check);
    void finished(const CheckResult& result);
    void closing(const CheckRun& run);

private:
    std::ostream& out_;
    const CheckOptions& options_;
    bool startShown_ = false;
};

// Every run so far in one file, written beside the target and renamed over it, so that a
// reader never sees half a file. One run is one object; several are {"runs": [...]}.
bool writeJson(const std::string& path, bool strict, const std::vector<CheckRun>& runs);
// Throws Error when `path` cannot be written, before anything has run.
void probeJson(const std::string& path);

}  // namespace mvmhost
