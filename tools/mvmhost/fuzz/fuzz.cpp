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

#include "tools/mvmhost/base/exit_status.h"
#include "tools/mvmhost/runtime/sandbox.h"
#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/fuzz/fuzz_chunk.h"
#include "tools/mvmhost/runtime/module_library.h"
#include "tools/mvmhost/base/user_text.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace mvmhost {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A chunk takes well under a second; one still running after this hangs.
constexpr double kChunkTimeLimit = 20.0;

std::string reproduceLine(const FuzzOptions& options, uint64_t chunk) {
    return "mvmhost fuzz " + options.library + " --reproduce " + std::to_string(chunk) +
           (options.strict ? " --strict" : "") +
           (options.plugCount >= 0 ? " --plugs " + std::to_string(options.plugCount) : "");
}

void printFinding(const FuzzOptions& options, uint64_t chunk, const std::string& what, const ChunkJournal& journal,
                  const std::string& report) {
    std::printf("FOUND in chunk %llu: %s\n", static_cast<unsigned long long>(chunk), printable(what).c_str());
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
    if (options.duration && !(*options.duration > 0)) throw Error("--duration must be more than 0 seconds");
    Plan plan;
    plan.first = options.seed ? *options.seed
                              : (static_cast<uint64_t>(std::random_device{}()) << 20) ^ std::random_device{}();
    const uint64_t chunks = options.chunks ? *options.chunks : options.duration ? UINT64_MAX : kDefaultChunks;
    plan.end = chunks > UINT64_MAX - plan.first ? UINT64_MAX : plan.first + chunks;
    plan.duration = options.duration ? *options.duration : 0;
    return plan;
}

// `last` is the highest seed that ran to its end; with several jobs some below it may not have.
void printClosing(uint64_t ran, uint64_t first, uint64_t last, double seconds, const char* how) {
    if (ran == 0) std::printf("no chunk ran to its end in %.1f s: %s\n", seconds, how);
    else if (ran == 1) std::printf("1 chunk (seed %llu) in %.1f s: %s\n", static_cast<unsigned long long>(last), seconds, how);
    else
        std::printf("%llu chunks (seeds %llu to %llu) in %.1f s: %s\n", static_cast<unsigned long long>(ran),
                    static_cast<unsigned long long>(first), static_cast<unsigned long long>(last), seconds, how);
}

// Beyond what a host promises (--strict), what would have been findings only warn.
struct Warnings {
    uint64_t count = 0, chunk = 0;
    std::string first;

    void add(uint64_t inChunk, const ChunkJournal& journal) {
        if (journal.warnings == 0) return;
        if (count == 0 || inChunk < chunk) {
            chunk = inChunk;
            first = journal.firstWarning;
        }
        count += journal.warnings;
    }
    void print() const {
        if (count == 0) return;
        std::printf("%llu warnings where the module was given more than a host promises; the first, in chunk %llu: %s\n",
                    static_cast<unsigned long long>(count), static_cast<unsigned long long>(chunk), printable(first).c_str());
    }
};

int reproduce(const FuzzOptions& options, const ModuleLibrary& library) {
    ChunkJournal journal;
    std::printf("mvmhost fuzz %s: chunk %llu in this process%s\n", printable(options.library).c_str(),
                static_cast<unsigned long long>(*options.reproduce), options.strict ? ", strict" : "");
    std::fflush(stdout);
    const bool clean = runChunk(library.entries(), *options.reproduce, options.strict, journal,
                                options.verbose ? stdout : nullptr, options.plugCount);
    Warnings warnings;
    warnings.add(*options.reproduce, journal);
    warnings.print();
    if (clean) {
        std::printf("chunk %llu: nothing found in %llu actions\n", static_cast<unsigned long long>(*options.reproduce),
                    static_cast<unsigned long long>(journal.actions));
        return 0;
    }
    printFinding(options, *options.reproduce, journal.fired, journal, "");
    return exit_status::kFailed;
}


#if defined(_WIN32)

// No fork here: the chunks run one after the other in this process, and a crash ends the run
// with its finding printed from the exception filter.
struct Current {
    const FuzzOptions* options = nullptr;
    uint64_t chunk = 0;
    ChunkJournal journal;
} current;

LONG WINAPI onCrash(EXCEPTION_POINTERS* info) {
    char what[64];
    std::snprintf(what, sizeof what, "crashed (exception 0x%08lX)",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
    printFinding(*current.options, current.chunk, what, current.journal, "");
    TerminateProcess(GetCurrentProcess(), exit_status::kFailed);
    return EXCEPTION_EXECUTE_HANDLER;
}

int runChunks(const FuzzOptions& options, const ModuleLibrary& library, const Plan& plan) {
    const Clock::time_point start = Clock::now();
    current.options = &options;
    SetUnhandledExceptionFilter(onCrash);
    uint64_t ran = 0;
    Warnings warnings;
    for (uint64_t chunk = plan.first; chunk < plan.end; ++chunk) {
        if (plan.duration > 0 && secondsSince(start) >= plan.duration) break;
        current.chunk = chunk;
        ++ran;
        const bool clean = runChunk(library.entries(), chunk, options.strict, current.journal,
                                    nullptr, options.plugCount);
        warnings.add(chunk, current.journal);
        if (!clean) {
            printFinding(options, chunk, current.journal.fired, current.journal, "");
            warnings.print();
            printClosing(ran, plan.first, chunk, secondsSince(start), "a finding");
            return exit_status::kFailed;
        }
    }
    warnings.print();
    printClosing(ran, plan.first, plan.first + ran - 1, secondsSince(start), "nothing found");
    return 0;
}

#else

volatile std::sig_atomic_t interrupted = 0;
void onInterrupt(int) { interrupted = 1; }

struct Child {
    pid_t pid = 0;
    uint64_t chunk = 0;
    Clock::time_point started;
    ChunkJournal* journal = nullptr;
    std::string log;  // where its standard error goes: a sanitizer's report
};

// What ended the child, when it was not a clean end.
std::string verdict(const Child& child, int status, bool& sanitizer) {
    sanitizer = false;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    if (child.journal->fired[0]) return child.journal->fired;
    const std::string summary = sanitizerSummary(child.log);
    if (!summary.empty()) {
        sanitizer = true;
        return "crashed (" + summary + ")";
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return "crashed (signal " + std::to_string(signal) + ", " + strsignal(signal) + ")";
    }
    return "the chunk's process exited with status " + std::to_string(WEXITSTATUS(status));
}

[[noreturn]] void runChild(const FuzzOptions& options, const ModuleLibrary& library, const Child& child) {
    std::signal(SIGINT, SIG_DFL);
    const int log = open(child.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) {
        dup2(log, STDERR_FILENO);
        ::close(log);
    }
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) dup2(devNull, STDOUT_FILENO);  // what a module prints is not the fuzzer's
    const bool clean = runChunk(library.entries(), child.chunk, options.strict, *child.journal,
                                nullptr, options.plugCount);
    _exit(clean ? 0 : exit_status::kFailed);
}

int runChunks(const FuzzOptions& options, const ModuleLibrary& library, const Plan& plan) {
    const size_t jobs = static_cast<size_t>(options.jobs);
    // One journal per job, shared with the children, so that a dead child's last actions stay.
    void* shared = mmap(nullptr, jobs * sizeof(ChunkJournal), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) throw Error("cannot map memory for the chunks' journals");
    auto* journals = static_cast<ChunkJournal*>(shared);
    const char* tmp = std::getenv("TMPDIR");
    std::string logDir = std::string(tmp && *tmp ? tmp : "/tmp") + "/mvmhost-fuzz-XXXXXX";
    if (!mkdtemp(&logDir[0])) throw Error("cannot make a directory for the chunks' reports in " + logDir.substr(0, logDir.rfind('/')));

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);

    const Clock::time_point start = Clock::now();
    std::vector<Child> running(jobs);
    std::vector<bool> busy(jobs, false);
    uint64_t next = plan.first, ran = 0, last = plan.first;
    // The lowest chunk that found something: the chunks below it still running may run to
    // their end, those above it are cut short, so the same run always reports the same one.
    struct Found {
        uint64_t chunk = 0;
        std::string what, report;
        ChunkJournal journal;
    };
    std::unique_ptr<Found> first;
    bool found = false;
    Warnings warnings;
    while (true) {
        const bool starting = !found && !interrupted && next < plan.end &&
                              !(plan.duration > 0 && secondsSince(start) >= plan.duration);
        for (size_t j = 0; j < jobs && starting && next < plan.end; ++j) {
            if (busy[j]) continue;
            Child& child = running[j];
            child.chunk = next++;
            child.journal = &journals[j];
            new (child.journal) ChunkJournal();
            child.log = logDir + "/chunk-" + std::to_string(child.chunk) + ".log";
            child.started = Clock::now();
            std::fflush(nullptr);
            child.pid = fork();
            if (child.pid < 0) throw Error(std::string("cannot start a process for a chunk: ") + std::strerror(errno));
            if (child.pid == 0) runChild(options, library, child);
            busy[j] = true;
        }
        bool any = false;
        for (size_t j = 0; j < jobs; ++j) {
            if (!busy[j]) continue;
            any = true;
            Child& child = running[j];
            int status = 0;
            const pid_t done = waitpid(child.pid, &status, WNOHANG);
            std::string what;
            bool sanitizer = false;
            if (done == 0) {
                const bool late = secondsSince(child.started) > kChunkTimeLimit;
                if (!late && !(found && child.chunk > first->chunk) && !interrupted) continue;
                kill(child.pid, SIGKILL);
                waitpid(child.pid, &status, 0);
                busy[j] = false;
                if (!late) {  // cut short: it does not count as run
                    unlink(child.log.c_str());
                    continue;
                }
                char text[64];
                std::snprintf(text, sizeof text, "hung (still running after %.0f s)", kChunkTimeLimit);
                what = text;
            } else {
                busy[j] = false;
                if (interrupted && WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) {  // the terminal's Ctrl-C
                    unlink(child.log.c_str());
                    continue;
                }
                what = verdict(child, status, sanitizer);
            }
            ++ran;
            last = std::max(last, child.chunk);
            warnings.add(child.chunk, *child.journal);
            if (!sanitizer) unlink(child.log.c_str());
            if (what.empty() || (found && child.chunk > first->chunk)) continue;
            if (first && !first->report.empty()) unlink(first->report.c_str());
            first = std::make_unique<Found>();
            *first = {child.chunk, what, sanitizer ? child.log : "", *child.journal};
            found = true;
        }
        if (!any && !starting) break;
        if (any) usleep(2000);
    }
    sigaction(SIGINT, &previous, nullptr);
    if (first) printFinding(options, first->chunk, first->what, first->journal, first->report);
    warnings.print();
    munmap(shared, jobs * sizeof(ChunkJournal));
    rmdir(logDir.c_str());  // left where a sanitizer's report is kept in it
    printClosing(ran, plan.first, last, secondsSince(start),
                 found ? "a finding" : interrupted ? "interrupted, nothing found" : "nothing found");
    return found ? exit_status::kFailed : interrupted ? exit_status::kInterrupted : exit_status::kPassed;
}

#endif

}  // namespace

int fuzzCommand(const FuzzOptions& options) {
    const ModuleLibrary library(options.library);
    if (options.reproduce) return reproduce(options, library);
    const Plan plan = planFor(options);
    std::printf("mvmhost fuzz %s  seed %llu  %s%s\n", printable(options.library).c_str(), static_cast<unsigned long long>(plan.first),
                plan.end == UINT64_MAX ? ("for " + std::to_string(static_cast<int>(plan.duration)) + " s").c_str()
                                       : (std::to_string(plan.end - plan.first) + " chunks").c_str(),
                options.strict ? "  strict" : "");
    std::fflush(stdout);
    return runChunks(options, library, plan);
}

}  // namespace mvmhost
