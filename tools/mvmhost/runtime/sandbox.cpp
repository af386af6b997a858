#include "tools/mvmhost/runtime/sandbox.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "tools/mvmhost/base/elapsed.h"
#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/exit_status.h"
#include "tools/mvmhost/runtime/interrupts.h"

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

// How often a parent looks at its children: short beside any unit of work.
constexpr int kPollMicroseconds = 2000;

#if !defined(_WIN32)
bool isEmptyFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return !in || in.tellg() <= 0;
}
#endif

// --- the last word of a unit run in this process ----------------------------------------------

struct Here {
    const std::string* unit = nullptr;
    const Sandbox::LastWord* lastWord = nullptr;
    Clock::time_point started;
    double timeLimit = 0;
};
Here here;

[[noreturn]] void endHere(Verdict verdict) {
    verdict.seconds = secondsSince(here.started);
    int status = verdict.kind == Verdict::Interrupted ? verdict.exitStatus : exit_status::kFailed;
    if (here.lastWord) status = (*here.lastWord)(here.unit ? *here.unit : "?", verdict);
    // Every command ends a run the user stopped alike, with the status of the signal.
    if (verdict.kind == Verdict::Interrupted) status = verdict.exitStatus;
    // No flushing of every stream here: in a signal handler, the interrupted code may hold the
    // lock of the file it was writing. A last word that prints to stdout flushes it itself.
#if defined(_WIN32)
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
#endif
    std::_Exit(status);
}

[[noreturn]] void endHere(Verdict::Kind kind, std::string crash = {}) {
    Verdict verdict;
    verdict.kind = kind;
    verdict.crash = std::move(crash);
    endHere(verdict);
}

[[noreturn]] void interruptedHere(int status) {
    Verdict verdict;
    verdict.kind = Verdict::Interrupted;
    verdict.exitStatus = status;
    endHere(verdict);
}

#if defined(_WIN32)
LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info) {
    char what[64];
    std::snprintf(what, sizeof what, "exception 0x%08lX",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
    endHere(Verdict::Crashed, what);
}

BOOL WINAPI onConsoleControl(DWORD event) {
    const bool closing =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    interruptedHere(closing ? exit_status::kTerminated : exit_status::kInterrupted);
}

DWORD WINAPI watchdog(void*) {
    for (;;) {
        Sleep(200);
        if (here.unit && here.timeLimit > 0 && secondsSince(here.started) > here.timeLimit)
            endHere(Verdict::TimedOut);
    }
}

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

void armHere() {
    previousFilter = SetUnhandledExceptionFilter(onUnhandledException);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    static const HANDLE thread = CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);
    (void)thread;
}

void disarmHere() {
    SetUnhandledExceptionFilter(previousFilter);
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
}
#else
void onFatalSignal(int signal) {
    if (signal == SIGALRM) endHere(Verdict::TimedOut);
    if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP)
        interruptedHere(exit_status::kSignalBase + signal);
    endHere(Verdict::Crashed, "signal " + std::to_string(signal) + ", " + strsignal(signal));
}

const int kLastWordSignals[] = {SIGSEGV, SIGBUS, SIGFPE,  SIGILL, SIGABRT,
                                SIGALRM, SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[sizeof kLastWordSignals / sizeof *kLastWordSignals];

void armHere() {
    for (size_t i = 0; i < sizeof kLastWordSignals / sizeof *kLastWordSignals; ++i) {
        struct sigaction action {};
        action.sa_handler = onFatalSignal;
        sigemptyset(&action.sa_mask);
        sigaction(kLastWordSignals[i], &action, &previousActions[i]);
    }
    alarm(here.timeLimit > 0 ? static_cast<unsigned>(here.timeLimit + 0.999) : 0);
}

void disarmHere() {
    alarm(0);
    for (size_t i = 0; i < sizeof kLastWordSignals / sizeof *kLastWordSignals; ++i)
        sigaction(kLastWordSignals[i], &previousActions[i], nullptr);
}
#endif

}  // namespace

// --- shared memory -----------------------------------------------------------------------------

SharedMemory::SharedMemory(size_t bytes) : size_(bytes) {
#if defined(_WIN32)
    data_ = std::calloc(1, bytes);
    if (!data_) throw Error("cannot allocate memory for a unit of work's answer");
#else
    data_ = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (data_ == MAP_FAILED) throw Error("cannot map memory for a unit of work's answer");
#endif
}

SharedMemory::~SharedMemory() {
#if defined(_WIN32)
    std::free(data_);
#else
    munmap(data_, size_);
#endif
}

// --- the sandbox -------------------------------------------------------------------------------

Sandbox::Sandbox(std::string kind, double timeLimit)
    : kind_(std::move(kind)),
      timeLimit_(timeLimit),
      watch_(std::make_unique<InterruptWatch>(true)) {}

Sandbox::~Sandbox() {
#if !defined(_WIN32)
    while (!children_.empty()) cut(children_.back().id);
    if (!logDir_.empty()) rmdir(logDir_.c_str());  // stays where a log is kept for the reader
#endif
}

bool Sandbox::canFork() {
#if defined(_WIN32)
    return false;
#else
    return true;
#endif
}

bool Sandbox::interrupted() const { return stopRequested() != 0; }

int Sandbox::interruptionStatus() const { return stopRequested(); }

#if defined(_WIN32)

int Sandbox::start(const std::string&, const std::function<int()>&, bool) {
    throw Error("this platform cannot start a unit of work in a process of its own");
}

std::optional<Sandbox::Ended> Sandbox::next(std::optional<double>) { return std::nullopt; }

void Sandbox::cut(int) {}

#else

int Sandbox::start(const std::string& unit, const std::function<int()>& work, bool quiet) {
    if (logDir_.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/mvmhost-" + kind_ + "-XXXXXX";
        if (!mkdtemp(&dir[0]))
            throw Error("cannot make a directory for " + kind_ + " reports in " +
                        dir.substr(0, dir.rfind('/')));
        logDir_ = dir;
    }
    Child child;
    child.log = logDir_ + "/" + unit + ".log";
    std::fflush(nullptr);
    child.started = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw Error("cannot start a process for " + unit + ": " + std::strerror(errno));
    if (pid == 0) {
        // The child dies of what the terminal sends; its parent ends it for anything else.
        for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
        const int log = open(child.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(log, STDERR_FILENO);
            close(log);
        }
        if (quiet) {
            const int devNull = open("/dev/null", O_WRONLY);
            if (devNull >= 0) dup2(devNull, STDOUT_FILENO);  // what a module prints is not ours
        }
        // Leaves without running any exit handler of its own or of the module.
        _exit(work());
    }
    child.id = pid;
    children_.push_back(child);
    return pid;
}

Verdict Sandbox::finish(Child& child, int status, Verdict::Kind forced) {
    Verdict verdict;
    verdict.seconds = secondsSince(child.started);
    verdict.kind = forced;
    if (forced == Verdict::Exited) {
        const bool signalled = !WIFEXITED(status);
        verdict.exitStatus = signalled ? 0 : WEXITSTATUS(status);
        if (signalled || verdict.exitStatus != 0) {
            // A sanitizer ends a process, by a signal or a status of its own, after its report.
            verdict.crash = sanitizerSummary(child.log);
            verdict.sanitizer = !verdict.crash.empty();
            if (verdict.sanitizer || signalled) verdict.kind = Verdict::Crashed;
            if (!verdict.sanitizer && signalled)
                verdict.crash = "signal " + std::to_string(WTERMSIG(status)) + ", " +
                                strsignal(WTERMSIG(status));
        }
    }
    const bool failed = verdict.kind == Verdict::Crashed ||
                        (verdict.kind == Verdict::Exited && verdict.exitStatus != 0);
    if (failed && !isEmptyFile(child.log))
        verdict.log = child.log;
    else
        unlink(child.log.c_str());
    return verdict;
}

std::optional<Sandbox::Ended> Sandbox::next(std::optional<double> wait) {
    const Clock::time_point start = Clock::now();
    while (!children_.empty()) {
        const bool stopping = interrupted();
        for (size_t i = 0; i < children_.size(); ++i) {
            Child child = children_[i];
            int status = 0;
            Verdict::Kind kind = Verdict::Exited;
            if (waitpid(child.id, &status, WNOHANG) == 0) {
                const bool late = timeLimit_ > 0 && secondsSince(child.started) > timeLimit_;
                if (!late && !stopping) continue;
                kill(child.id, SIGKILL);
                while (waitpid(child.id, &status, 0) < 0 && errno == EINTR) {}
                kind = stopping ? Verdict::Interrupted : Verdict::TimedOut;
            } else if (stopping && WIFSIGNALED(status)) {
                kind = Verdict::Interrupted;  // the terminal's Ctrl-C reached it too
            }
            children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
            return Ended{child.id, finish(child, status, kind)};
        }
        if (wait && secondsSince(start) >= *wait) break;
        usleep(kPollMicroseconds);
    }
    return std::nullopt;
}

void Sandbox::cut(int id) {
    for (size_t i = 0; i < children_.size(); ++i) {
        if (children_[i].id != id) continue;
        kill(id, SIGKILL);
        int status = 0;
        while (waitpid(id, &status, 0) < 0 && errno == EINTR) {}
        unlink(children_[i].log.c_str());
        children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
        return;
    }
}

#endif

double Sandbox::runHere(const std::string& unit, const std::function<void()>& work,
                        LastWord lastWord) {
    here = {&unit, &lastWord, Clock::now(), timeLimit_};
    armHere();
    struct Disarm {  // an Error leaving `work` leaves no handler behind that names it
        ~Disarm() {
            disarmHere();
            here = {};
        }
    } disarm;
    work();
    return secondsSince(here.started);
}

std::string timedOutText(double limit) {
    char text[64];
    std::snprintf(text, sizeof text, "timed out after %.0f s", limit);
    return text;
}

std::string sanitizerSummary(const std::string& log) {
    std::ifstream in(log);
    std::string summary, runtimeError, error;
    for (std::string line; std::getline(in, line);) {
        if (size_t at = line.find("SUMMARY: "); at != std::string::npos)
            summary = line.substr(at + 9);
        if (size_t at = line.find("runtime error: ");
            at != std::string::npos && runtimeError.empty())
            runtimeError = "UndefinedBehaviorSanitizer: " + line.substr(at + 15);
        if (size_t at = line.find("ERROR: "); at != std::string::npos && error.empty())
            error = line.substr(at + 7);
    }
    if (summary.empty()) summary = runtimeError.empty() ? error : runtimeError;
    while (!summary.empty() && (summary.back() == ' ' || summary.back() == '\r'))
        summary.pop_back();
    return summary;
}

}  // namespace mvmhost
