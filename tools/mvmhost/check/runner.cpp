// A run: the checks chosen for a library, each isolated, reported as it ends; then the
// libraries and repetitions of one command.
#include <chrono>
#include <iostream>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/exit_status.h"
#include "tools/mvmhost/base/files.h"
#include "tools/mvmhost/check/check.h"
#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/check/isolation.h"
#include "tools/mvmhost/check/report.h"
#include "tools/mvmhost/check/selection.h"
#include "tools/mvmhost/contract/host_rules.h"
#include "tools/mvmhost/contract/stimulus.h"
#include "tools/mvmhost/runtime/module_library.h"

namespace mvmhost {
namespace {

uint64_t freshSeed() {
    return (static_cast<uint64_t>(std::random_device{}()) << 32) ^
           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

// What the last word of a run in this process needs to close its report.
struct Closing {
    Report* report;
    const CheckOptions* options;
    const std::vector<const CheckDefinition*>* chosen;
    CheckRun* run;
    std::vector<CheckRun>* earlier;
};

void markNotRun(CheckRun& run, const std::vector<const CheckDefinition*>& chosen) {
    for (size_t i = run.results.size(); i < chosen.size(); ++i)
        run.results.push_back({chosen[i]->name, CheckStatus::NotRun, "not run", 0.0, {}});
}

void writeReport(const CheckOptions& options, const std::vector<CheckRun>& earlier,
                 const CheckRun& run) {
    if (options.json.empty()) return;
    std::vector<CheckRun> runs = earlier;
    runs.push_back(run);
    if (!writeJson(options.json, options.strict, runs)) throw Error("cannot write " + options.json);
}

// The first fault that corrupts memory or crashes leads the report; the failures after it in
// the same run are marked as possibly its consequence.
void markConsequence(CheckRun& run, CheckResult& result) {
    if (result.status != CheckStatus::Fail) return;
    if (run.firstCause >= 0) {
        result.mayFollowFrom = run.results[static_cast<size_t>(run.firstCause)].name;
        return;
    }
    if (result.reason.rfind("crashed (", 0) == 0 || corruptsMemory(result.reason))
        run.firstCause = static_cast<int>(run.results.size());
}

void lastWord(const CheckResult& last, void* data) {
    Closing& c = *static_cast<Closing*>(data);
    CheckResult result = last;
    markConsequence(*c.run, result);
    c.run->results.push_back(result);
    c.run->interrupted = last.status == CheckStatus::NotRun;
    c.report->finished(result);
    markNotRun(*c.run, *c.chosen);
    c.report->closing(*c.run);
    if (!c.options->json.empty()) {
        std::vector<CheckRun> runs = *c.earlier;
        runs.push_back(*c.run);
        writeJson(c.options->json, c.options->strict, runs);
    }
}

CheckRun runOne(const CheckOptions& options, const std::string& path, uint64_t seed,
                std::ostream& out, std::vector<CheckRun>& earlier) {
    const std::vector<const CheckDefinition*> chosen = selectChecks(options);
    if (options.timeLimit <= 0) throw Error("the time limit must be a positive number of seconds");
    if (!options.json.empty()) probeJson(options.json);
    ModuleLibrary library(path);

    CheckRun run;
    run.library = path;
    run.seed = seed;
    CheckContext context;
    context.entries = library.entries();
    context.seed = seed;
    context.strict = options.strict;

    Report report(out, options);
    report.header(run, chosen.size());
    Closing closing{&report, &options, &chosen, &run, &earlier};
    int stopStatus = 0;
    {
        Isolation isolation(options, lastWord, &closing);
        for (const CheckDefinition* check : chosen) {
            report.starting(check->name);
            CheckResult result = isolation.run(*check, context);
            markConsequence(run, result);
            report.finished(result);
            run.results.push_back(std::move(result));
            if (isolation.interrupted()) break;
        }
        run.interrupted = isolation.interrupted();
        stopStatus = isolation.interruptionStatus();
    }
    markNotRun(run, chosen);
    report.closing(run);
    bool failed = false;
    for (const CheckResult& r : run.results) failed |= r.status == CheckStatus::Fail;
    run.exitStatus = run.interrupted ? stopStatus
                     : failed        ? exit_status::kFailed
                                     : exit_status::kPassed;
    writeReport(options, earlier, run);
    return run;
}

}  // namespace

CheckRun runChecks(const CheckOptions& options, std::ostream& out) {
    if (options.libraries.empty()) throw Error("no module library to check");
    std::vector<CheckRun> earlier;
    return runOne(options, options.libraries.front(), options.seed ? *options.seed : freshSeed(),
                  out, earlier);
}

int checkCommand(CheckOptions options) {
    if (options.libraries.empty()) throw Error("no module library to check");
    if (options.repeat < 1) throw Error("--repeat takes a number of runs from 1 up");
    selectChecks(options);  // a wrong choice stops the command before anything runs
    if (!options.json.empty())
        refuseOverwrites("check", {{"--json " + options.json, options.json}}, options.libraries);
#if !defined(_WIN32)
    options.startLines = isatty(STDOUT_FILENO) != 0;
#endif
    // With a seed, the repetitions follow from it, so that the whole command repeats.
    Random seeds(options.seed ? *options.seed : freshSeed());
    std::vector<CheckRun> runs;
    struct Summary {
        std::string library;
        int runs = 0, failedRuns = 0, failedChecks = 0;
        bool unusable = false;
    };
    std::vector<Summary> summaries;
    int worst = 0;
    for (const std::string& library : options.libraries) {
        Summary summary{library};
        for (int r = 0; r < options.repeat; ++r) {
            const uint64_t seed = r == 0 && options.seed ? *options.seed
                                  : options.seed         ? seeds.next()
                                                         : freshSeed();
            try {
                CheckRun run = runOne(options, library, seed, std::cout, runs);
                ++summary.runs;
                summary.failedRuns += run.exitStatus == exit_status::kFailed ? 1 : 0;
                for (const CheckResult& result : run.results)
                    summary.failedChecks += result.status == CheckStatus::Fail;
                worst = std::max(worst, run.exitStatus);
                const int stopped = run.interrupted ? run.exitStatus : 0;
                runs.push_back(std::move(run));
                if (stopped) return stopped;
            } catch (const Error& failure) {
                if (options.libraries.size() == 1 || failure.interruption()) throw;
                std::cerr << "mvmhost: " << failure.what() << std::endl;
                summary.unusable = true;
                worst = std::max(worst, exit_status::kCannotRun);
                break;
            }
        }
        summaries.push_back(summary);
    }
    if (summaries.size() > 1 || options.repeat > 1) {
        for (const Summary& s : summaries) {
            std::cout << "summary  " << s.library << "  ";
            if (s.unusable)
                std::cout << "cannot be checked";
            else
                std::cout << s.runs << (s.runs == 1 ? " run, " : " runs, ") << s.failedRuns
                          << " failed (" << s.failedChecks
                          << (s.failedChecks == 1 ? " failed check)" : " failed checks)");
            std::cout << '\n';
        }
        std::cout << std::flush;
    }
    return worst;
}

void listChecks(std::ostream& out) {
    for (const CheckDefinition& check : checkTable()) {
        std::string name = check.name;
        if (name.size() < 26) name.resize(26, ' ');
        out << name << (check.strictOnly ? "  (strict)  " : "            ") << check.description
            << '\n';
    }
    out << std::flush;
}

}  // namespace mvmhost
