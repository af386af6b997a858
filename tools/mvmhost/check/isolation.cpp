#include "tools/mvmhost/check/isolation.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "tools/mvmhost/base/exit_status.h"
#include "tools/mvmhost/check/report.h"
#include "tools/mvmhost/runtime/sandbox.h"
#include "tools/mvmhost/base/error.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace mvmhost {

Outcome runGuarded(const CheckDefinition& check, CheckContext& context) {
    try {
        return check.run(context);
    } catch (const Error& error) {  // a module's fault, or the host refusing what it described
        return {CheckStatus::Fail, error.what()};
    } catch (const std::exception& e) {
        return {CheckStatus::Fail, std::string("the validator stopped: ") + e.what()};
    } catch (...) {
        return {CheckStatus::Fail, "the validator stopped on an unknown exception"};
    }
}

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }


std::string timedOut(double limit) {
    char text[64];
    std::snprintf(text, sizeof text, "timed out after %.0f s", limit);
    return text;
}

// What the in-process runner needs when a check brings the process down.
struct Session {
    Isolation::LastWord lastWord = nullptr;
    void* data = nullptr;
    const char* current = nullptr;
    Clock::time_point started;
    double timeLimit = 0;
};
Session session;

[[noreturn]] void endWith(CheckStatus status, const std::string& why, int exitStatus) {
    const CheckResult last{session.current ? session.current : "?", status, why, secondsSince(session.started)};
    if (session.lastWord) session.lastWord(last, session.data);
    std::fflush(nullptr);
#if defined(_WIN32)
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitStatus));
#endif
    std::_Exit(exitStatus);
}

#if defined(_WIN32)
LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info) {
    char what[96];
    std::snprintf(what, sizeof what, "crashed (exception 0x%08lX)",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
    endWith(CheckStatus::Fail, what, 1);
}

BOOL WINAPI onConsoleControl(DWORD) { endWith(CheckStatus::NotRun, "interrupted", exit_status::kInterrupted); }

DWORD WINAPI watchdog(void*) {
    for (;;) {
        Sleep(200);
        if (session.current && secondsSince(session.started) > session.timeLimit)
            endWith(CheckStatus::Fail, timedOut(session.timeLimit), 1);
    }
}

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

void armLastWord() {
    previousFilter = SetUnhandledExceptionFilter(onUnhandledException);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    static const HANDLE thread = CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);
    (void)thread;
}

void disarmLastWord() {
    SetUnhandledExceptionFilter(previousFilter);
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
}
#else
void onFatalSignal(int signal) {
    if (signal == SIGALRM) endWith(CheckStatus::Fail, timedOut(session.timeLimit), 1);
    if (signal == SIGINT || signal == SIGTERM) endWith(CheckStatus::NotRun, "interrupted", exit_status::kInterrupted);
    endWith(CheckStatus::Fail, std::string("crashed (signal ") + std::to_string(signal) + ", " + strsignal(signal) + ")", 1);
}

const int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGALRM, SIGINT, SIGTERM};

void armLastWord() {
    for (int s : kFatalSignals) std::signal(s, onFatalSignal);
}

void disarmLastWord() {
    for (int s : kFatalSignals) std::signal(s, SIG_DFL);
}

// --- children ------------------------------------------------------------------------------

std::atomic<pid_t> runningChild{0};
volatile std::sig_atomic_t interruptedFlag = 0;
struct sigaction previousInt, previousTerm;

void onInterrupt(int) {
    interruptedFlag = 1;
    const pid_t child = runningChild.load();
    if (child > 0) kill(child, SIGKILL);
}

void armInterrupt() {
    interruptedFlag = 0;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the wait for the child returns at once
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

void disarmInterrupt() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
}

// The child's standard error, where a sanitizer writes its report.
std::string makeLog(const char* check, int* fd) {
    const char* dir = std::getenv("TMPDIR");
    const std::string suffix = ".log";
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/mvmhost-check-" + check + "-XXXXXX" + suffix;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    *fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
    return *fd < 0 ? std::string() : std::string(name.data());
}

bool isEmptyFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return !in || in.tellg() <= 0;
}

// The child writes one line, a status letter and the reason, and leaves without running any
// exit handler of its own or of the module.
[[noreturn]] void runAsChild(const CheckDefinition& check, CheckContext& context, int fd, int logFd) {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (logFd >= 0) dup2(logFd, STDERR_FILENO);
    const Outcome outcome = runGuarded(check, context);
    std::string line = std::string(1, statusWord(outcome.status)[0]) + outcome.reason;
    for (char& ch : line)
        if (ch == '\n' || ch == '\r') ch = ' ';
    line += '\n';
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    _exit(0);
}

CheckStatus statusOf(char letter) {
    switch (letter) {
    case 'P': return CheckStatus::Pass;
    case 'S': return CheckStatus::Skip;
    case 'W': return CheckStatus::Warn;
    default: return CheckStatus::Fail;
    }
}

CheckResult runInChild(const CheckDefinition& check, CheckContext& context, double limit) {
    CheckResult result{check.name, CheckStatus::Fail, {}, 0.0};
    int fds[2];
    if (pipe(fds) != 0) throw Error("cannot make a pipe for a check");
    int logFd = -1;
    const std::string log = makeLog(check.name, &logFd);
    std::fflush(nullptr);
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child < 0) throw Error("cannot start a process for a check");
    if (child == 0) {
        close(fds[0]);
        runAsChild(check, context, fds[1], logFd);
    }
    runningChild = child;
    if (interruptedFlag) kill(child, SIGKILL);  // Ctrl-C came between the check and the fork
    close(fds[1]);
    if (logFd >= 0) close(logFd);
    std::string message;
    bool late = false;
    while (!interruptedFlag) {
        const double left = limit - secondsSince(start);
        if (left <= 0) {
            late = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left * 1000) + 1);
        if (ready <= 0) continue;
        char buffer[512];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        message.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (late || interruptedFlag) kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    runningChild = 0;
    result.seconds = secondsSince(start);
    const bool answered = !message.empty() && message.back() == '\n';
    if (answered) {
        result.status = statusOf(message[0]);
        result.reason = message.substr(1, message.size() - 2);
    } else if (interruptedFlag) {
        result.status = CheckStatus::NotRun;
        result.reason = "interrupted";
    } else if (late) {
        result.reason = timedOut(limit);
    } else {
        const std::string summary = log.empty() ? std::string() : sanitizerSummary(log);
        std::string what;
        if (!summary.empty()) what = summary;
        else if (WIFSIGNALED(status)) what = "signal " + std::to_string(WTERMSIG(status)) + ", " + strsignal(WTERMSIG(status));
        else what = "exited with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        if (!log.empty() && !isEmptyFile(log)) what += "; report in " + log;
        result.reason = "crashed (" + what + ")";
        if (!log.empty() && !isEmptyFile(log)) return result;  // the log stays for the reader
    }
    if (!log.empty()) unlink(log.c_str());
    return result;
}
#endif

}  // namespace

Isolation::Isolation(const CheckOptions& options, LastWord lastWord, void* data)
#if defined(_WIN32)
    : inProcess_(true),  // a process takes about a minute to start under emulation
#else
    : inProcess_(options.inProcess),
#endif
      timeLimit_(options.timeLimit) {
    if (inProcess_) {
        session = {lastWord, data, nullptr, Clock::now(), timeLimit_};
        armLastWord();
    }
#if !defined(_WIN32)
    else {
        armInterrupt();
    }
#endif
}

Isolation::~Isolation() {
    if (inProcess_) {
        disarmLastWord();
        session = {};
    }
#if !defined(_WIN32)
    else {
        disarmInterrupt();
    }
#endif
}

bool Isolation::interrupted() const {
#if defined(_WIN32)
    return false;
#else
    return !inProcess_ && interruptedFlag;
#endif
}

CheckResult Isolation::run(const CheckDefinition& check, CheckContext& context) {
#if !defined(_WIN32)
    if (!inProcess_) return runInChild(check, context, timeLimit_);
#endif
    session.current = check.name;
    session.started = Clock::now();
#if !defined(_WIN32)
    alarm(static_cast<unsigned>(timeLimit_ + 0.999));
#endif
    const Outcome outcome = runGuarded(check, context);
#if !defined(_WIN32)
    alarm(0);
#endif
    session.current = nullptr;
    return {check.name, outcome.status, outcome.reason, secondsSince(session.started)};
}

}  // namespace mvmhost
