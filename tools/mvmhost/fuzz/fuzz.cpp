#include "tools/mvmhost/fuzz/fuzz.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tools/mvmhost/base/elapsed.h"
#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/exit_status.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/fuzz/fuzz_chunk.h"
#include "tools/mvmhost/runtime/module_library.h"
#include "tools/mvmhost/runtime/sandbox.h"

namespace mvmhost {
namespace {

// A chunk takes well under a second; one still running after this hangs.
constexpr double kChunkTimeLimit = 20.0;
// How long the parent waits for a child before it looks whether it may start another.
constexpr double kPollSeconds = 0.002;

std::string reproduceLine(const FuzzOptions& options, uint64_t chunk) {
    return "mvmhost fuzz " + options.library + " --reproduce " + std::to_string(chunk) +
           (options.strict ? " --strict" : "") +
           (options.plugCount >= 0 ? " --plugs " + std::to_string(options.plugCount) : "");
}

void printFinding(const FuzzOptions& options, uint64_t chunk, const std::string& what,
                  const ChunkJournal& journal, const std::string& report) {
    std::printf("FOUND in chunk %llu: %s\n", static_cast<unsigned long long>(chunk),
                printable(what).c_str());
    std::printf("  the last actions:\n");
    journal.printTail(stdout, "    ");
    if (!report.empty()) std::printf("  the sanitizer's report: %s\n", report.c_str());
    std::printf("  to replay it in one process: %s\n", reproduceLine(options, chunk).c_str());
    std::fflush(stdout);
}

struct Plan {
    uint64_t first = 0;
    uint64_t end = 0;  // one past the last chunk; UINT64_MAX: until the duration is over
    double duration = 0;
};

Plan planFor(const FuzzOptions& options) {
    if (options.jobs < 1) throw Error("--jobs must be at least 1");
    if (options.chunks && *options.chunks == 0) throw Error("--chunks must be at least 1");
    if (options.duration && !(*options.duration > 0))
        throw Error("--duration must be more than 0 seconds");
    Plan plan;
    plan.first = options.seed ? *options.seed
                              : (static_cast<uint64_t>(std::random_device{}()) << 20) ^
                                    std::random_device{}();
    const uint64_t chunks = options.chunks     ? *options.chunks
                            : options.duration ? UINT64_MAX
                                               : kDefaultChunks;
    plan.end = chunks > UINT64_MAX - plan.first ? UINT64_MAX : plan.first + chunks;
    plan.duration = options.duration ? *options.duration : 0;
    return plan;
}

// `last` is the highest seed that ran to its end; with several jobs some below it may not have.
void printClosing(uint64_t ran, uint64_t first, uint64_t last, double seconds, const char* how) {
    if (ran == 0)
        std::printf("no chunk ran to its end in %.1f s: %s\n", seconds, how);
    else if (ran == 1)
        std::printf("1 chunk (seed %llu) in %.1f s: %s\n", static_cast<unsigned long long>(last),
                    seconds, how);
    else
        std::printf("%llu chunks (seeds %llu to %llu) in %.1f s: %s\n",
                    static_cast<unsigned long long>(ran), static_cast<unsigned long long>(first),
                    static_cast<unsigned long long>(last), seconds, how);
}

// Beyond what a host promises (--strict), what would have been findings only warn.
class Warnings {
public:
    explicit Warnings(std::string library) : library_(std::move(library)) {}

    void add(uint64_t inChunk, const ChunkJournal& journal) {
        if (journal.warnings == 0) return;
        if (count_ == 0 || inChunk < chunk_) {
            chunk_ = inChunk;
            first_ = journal.firstWarning;
        }
        count_ += journal.warnings;
    }
    // Not a finding: said so, with the way to see the first one.
    void print() const {
        if (count_ == 0) return;
        std::printf(
            "warned %llu %s, none a finding: the module went wrong only where it was given more "
            "than a host promises; the first, in chunk %llu: %s (mvmhost fuzz %s --strict "
            "--reproduce %llu --verbose shows it)\n",
            static_cast<unsigned long long>(count_), count_ == 1 ? "time" : "times",
            static_cast<unsigned long long>(chunk_), printable(first_).c_str(),
            printable(library_).c_str(), static_cast<unsigned long long>(chunk_));
    }

private:
    std::string library_;
    uint64_t count_ = 0, chunk_ = 0;
    std::string first_;
};

int reproduce(const FuzzOptions& options, const ModuleLibrary& library) {
    ChunkJournal journal;
    std::printf(
        "mvmhost fuzz %s: chunk %llu in this process%s\n", printable(options.library).c_str(),
        static_cast<unsigned long long>(*options.reproduce), options.strict ? ", strict" : "");
    std::fflush(stdout);
    const bool clean = runChunk(library.entries(), *options.reproduce, options.strict, journal,
                                options.verbose ? stdout : nullptr, options.plugCount);
    Warnings warnings(options.library);
    warnings.add(*options.reproduce, journal);
    warnings.print();
    if (clean) {
        std::printf("chunk %llu: nothing found in %llu actions\n",
                    static_cast<unsigned long long>(*options.reproduce),
                    static_cast<unsigned long long>(journal.actions));
        return 0;
    }
    printFinding(options, *options.reproduce, journal.fired, journal, "");
    return exit_status::kFailed;
}

// What ended a chunk that did not end cleanly; empty when it did.
std::string findingOf(const Verdict& verdict, const ChunkJournal& journal) {
    if (verdict.kind == Verdict::Exited && verdict.exitStatus == 0) return {};
    if (verdict.kind == Verdict::TimedOut) {
        char text[64];
        std::snprintf(text, sizeof text, "hung (still running after %.0f s)", kChunkTimeLimit);
        return text;
    }
    if (journal.fired[0]) return journal.fired;
    if (verdict.kind == Verdict::Crashed) return "crashed (" + verdict.crash + ")";
    return "the chunk's process exited with status " + std::to_string(verdict.exitStatus);
}

std::string unitName(uint64_t chunk) { return "chunk-" + std::to_string(chunk); }

// Where no process can be started for a chunk: the chunks run one after the other in this
// process, and a crash, a hang or Ctrl-C ends the run with its last word.
int runChunksHere(const FuzzOptions& options, const ModuleLibrary& library, const Plan& plan,
                  Sandbox& sandbox) {
    const Clock::time_point start = Clock::now();
    ChunkJournal journal;
    uint64_t ran = 0;
    Warnings warnings(options.library);
    for (uint64_t chunk = plan.first; chunk < plan.end && !sandbox.interrupted(); ++chunk) {
        if (plan.duration > 0 && secondsSince(start) >= plan.duration) break;
        ++ran;
        bool clean = true;
        sandbox.runHere(
            unitName(chunk),
            [&] {
                clean = runChunk(library.entries(), chunk, options.strict, journal, nullptr,
                                 options.plugCount);
            },
            [&](const std::string&, const Verdict& verdict) {
                if (verdict.kind == Verdict::Interrupted) {
                    warnings.print();
                    printClosing(ran - 1, plan.first, chunk - 1, secondsSince(start),
                                 "interrupted, nothing found");
                    std::fflush(stdout);
                    return exit_status::kInterrupted;
                }
                printFinding(options, chunk, findingOf(verdict, journal), journal, "");
                printClosing(ran, plan.first, chunk, secondsSince(start), "a finding");
                std::fflush(stdout);
                return exit_status::kFailed;
            });
        warnings.add(chunk, journal);
        if (!clean) {
            printFinding(options, chunk, journal.fired, journal, "");
            warnings.print();
            printClosing(ran, plan.first, chunk, secondsSince(start), "a finding");
            return exit_status::kFailed;
        }
    }
    warnings.print();
    const bool interrupted = sandbox.interrupted();
    printClosing(ran, plan.first, plan.first + ran - 1, secondsSince(start),
                 interrupted ? "interrupted, nothing found" : "nothing found");
    return interrupted ? sandbox.interruptionStatus() : exit_status::kPassed;
}

// Each chunk in a process of its own, `--jobs` at a time.
int runChunksInChildren(const FuzzOptions& options, const ModuleLibrary& library, const Plan& plan,
                        Sandbox& sandbox) {
    const size_t jobs = static_cast<size_t>(options.jobs);
    // One journal per job, shared with the children, so that a dead child's last actions stay.
    SharedMemory shared(jobs * sizeof(ChunkJournal));
    auto* journals = static_cast<ChunkJournal*>(shared.data());
    struct Slot {
        int id = 0;  // 0: free
        uint64_t chunk = 0;
    };
    std::vector<Slot> slots(jobs);

    const Clock::time_point start = Clock::now();
    uint64_t next = plan.first, ran = 0, last = plan.first;
    // The lowest chunk that found something: the chunks below it still running may run to
    // their end, those above it are cut short, so the same run always reports the same one.
    struct Found {
        uint64_t chunk = 0;
        std::string what, report;
        ChunkJournal journal;
    };
    std::unique_ptr<Found> first;
    Warnings warnings(options.library);
    while (true) {
        const bool starting = !first && !sandbox.interrupted() && next < plan.end &&
                              !(plan.duration > 0 && secondsSince(start) >= plan.duration);
        for (size_t j = 0; j < jobs && starting && next < plan.end; ++j) {
            if (slots[j].id) continue;
            const uint64_t chunk = next++;
            ChunkJournal* journal = new (&journals[j]) ChunkJournal();
            slots[j].chunk = chunk;
            slots[j].id = sandbox.start(
                unitName(chunk),
                [&, chunk, journal] {
                    const bool clean = runChunk(library.entries(), chunk, options.strict, *journal,
                                                nullptr, options.plugCount);
                    return clean ? exit_status::kPassed : exit_status::kFailed;
                },
                true);
        }
        if (sandbox.running() == 0 && !starting) break;
        const std::optional<Sandbox::Ended> ended = sandbox.next(kPollSeconds);
        if (!ended) continue;
        size_t j = 0;
        while (slots[j].id != ended->id) ++j;
        const uint64_t chunk = slots[j].chunk;
        slots[j].id = 0;
        const Verdict& verdict = ended->verdict;
        if (verdict.kind == Verdict::Interrupted) continue;  // cut short: it does not count as run
        ++ran;
        last = std::max(last, chunk);
        warnings.add(chunk, journals[j]);
        const std::string what = findingOf(verdict, journals[j]);
        const std::string report = verdict.sanitizer ? verdict.log : std::string();
        if (!verdict.log.empty() && report.empty()) std::remove(verdict.log.c_str());
        if (what.empty() || (first && chunk > first->chunk)) {
            if (!report.empty()) std::remove(report.c_str());
            continue;
        }
        if (first && !first->report.empty()) std::remove(first->report.c_str());
        first = std::make_unique<Found>();
        *first = {chunk, what, report, journals[j]};
        for (Slot& other : slots)
            if (other.id && other.chunk > chunk) {
                sandbox.cut(other.id);
                other.id = 0;
            }
    }
    if (first) printFinding(options, first->chunk, first->what, first->journal, first->report);
    warnings.print();
    const bool interrupted = sandbox.interrupted();
    printClosing(ran, plan.first, last, secondsSince(start),
                 first         ? "a finding"
                 : interrupted ? "interrupted, nothing found"
                               : "nothing found");
    return first         ? exit_status::kFailed
           : interrupted ? sandbox.interruptionStatus()
                         : exit_status::kPassed;
}

int runChunks(const FuzzOptions& options, const ModuleLibrary& library, const Plan& plan) {
    Sandbox sandbox("fuzz", kChunkTimeLimit);
    return Sandbox::canFork() ? runChunksInChildren(options, library, plan, sandbox)
                              : runChunksHere(options, library, plan, sandbox);
}

}  // namespace

int fuzzCommand(const FuzzOptions& options) {
    const ModuleLibrary library(options.library);
    if (options.reproduce) return reproduce(options, library);
    const Plan plan = planFor(options);
    std::printf("mvmhost fuzz %s  seed %llu  %s%s\n", printable(options.library).c_str(),
                static_cast<unsigned long long>(plan.first),
                plan.end == UINT64_MAX
                    ? ("for " + std::to_string(static_cast<int>(plan.duration)) + " s").c_str()
                    : (std::to_string(plan.end - plan.first) + " chunks").c_str(),
                options.strict ? "  strict" : "");
    std::fflush(stdout);
    return runChunks(options, library, plan);
}

}  // namespace mvmhost
