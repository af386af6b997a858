// mvmhost check: loads any module library and runs a battery of host-interface checks on it,
// each in a child process with a time limit where the platform can fork.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace mvmhost {

// NotRun: the process running the checks in order went down before this one.
enum class CheckStatus { Pass, Fail, Skip, Warn, NotRun };

struct CheckOptions {
    std::vector<std::string> libraries;  // each checked in turn, with a summary of its own
    bool strict = false;                 // adds the slow and the pedantic checks
    std::optional<uint64_t> seed;        // none: a fresh one, printed so a run can be repeated
    std::vector<std::string> only;       // run exactly these checks (strict ones too)
    std::string include;                 // a regular expression a check's name must match
    std::string exclude;                 // ... and must not match
    std::string json;                    // also write the results here
    double timeLimit = 30.0;             // seconds per check
    bool inProcess = false;              // all checks in this process, in order (Windows always)
    bool onlyFailed = false;             // print only the checks that did not pass
    int repeat = 1;                      // runs per library, each with a fresh seed
    bool startLines = false;             // show each check's name as it starts (a terminal)
};

struct CheckResult {
    std::string name;
    CheckStatus status = CheckStatus::Fail;
    std::string reason;
    double seconds = 0.0;
    // The earlier check of the same run whose fault corrupted memory or crashed, when this
    // failure came after it and may be its consequence; empty otherwise.
    std::string mayFollowFrom;
};

struct CheckRun {
    std::string library;
    uint64_t seed = 0;
    std::vector<CheckResult> results;
    // The first check whose fault corrupted memory or crashed; -1 when none did.
    int firstCause = -1;
    bool interrupted = false;  // Ctrl-C: what had not run is NotRun
    int exitStatus = 0;        // 0 all passed (warnings allowed), 1 a conformance failure
};

// One run over options.libraries[0] with options.seed: one line per check and the closing
// line to `out`. Throws Error when the library cannot be loaded or the options are wrong.
CheckRun runChecks(const CheckOptions& options, std::ostream& out);

// Every library, options.repeat times each, on standard output; answers the exit status:
// 0 all passed, 1 a check failed, 2 a library or the command line unusable, 130 interrupted.
int checkCommand(CheckOptions options);

// The names of all checks, in the order they run.
std::vector<std::string> checkNames();

// `mvmhost check --list`: one line per check, name, "(strict)" where so, description.
void listChecks(std::ostream& out);

}  // namespace mvmhost
