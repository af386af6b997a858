// mvmhost check: loads any module library and runs a battery of host-interface checks on it,
// each in a child process with a time limit where the platform can fork.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace mvmhost {

enum class CheckStatus { Pass, Fail, Skip, Warn };

struct CheckOptions {
    std::string library;
    bool strict = false;              // adds the slow and the pedantic checks
    std::optional<uint64_t> seed;     // none: a fresh one, printed so a run can be repeated
    std::string only;                 // run this one check
    std::string json;                 // also write the results here
    double timeLimit = 30.0;          // seconds per check
    bool inProcess = false;           // all checks in this process, in order (Windows always)
};

struct CheckResult {
    std::string name;
    CheckStatus status = CheckStatus::Fail;
    std::string reason;
    double seconds = 0.0;
};

struct CheckRun {
    uint64_t seed = 0;
    std::vector<CheckResult> results;
    int exitStatus = 0;  // 0 all passed (warnings allowed), 1 a conformance failure
};

// Runs the checks and prints one line per check and the closing line to `out`. Throws
// Failure when the library cannot be loaded or the options are wrong (exit status 2).
CheckRun runChecks(const CheckOptions& options, std::ostream& out);

// runChecks on standard output; answers the exit status.
int checkCommand(const CheckOptions& options);

// The names of all checks, in the order they run.
std::vector<std::string> checkNames();

}  // namespace mvmhost
