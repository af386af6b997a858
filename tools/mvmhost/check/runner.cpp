// Runs the checks: each in a child process with a time limit where the platform can fork,
// else all in this process in order, with a last word printed if one of them brings it down.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tools/mvmhost/check/check.h"
#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/failure.h"
#include "tools/mvmhost/module_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace mvmhost {

const std::vector<CheckDefinition>& checkTable() {
    static const std::vector<CheckDefinition> table = [] {
        std::vector<CheckDefinition> t;
        addInterfaceChecks(t);
        addEnumListCheck(t);
        addProcessingChecks(t);
        addUnknownOpcodeCheck(t);
        addRobustnessChecks(t);
        return t;
    }();
    return table;
}

std::vector<std::string> checkNames() {
    std::vector<std::string> names;
    for (const CheckDefinition& check : checkTable()) names.push_back(check.name);
    return names;
}

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

const char* statusWord(CheckStatus status) {
    switch (status) {
    case CheckStatus::Pass: return "PASS";
    case CheckStatus::Fail: return "FAIL";
    case CheckStatus::Skip: return "SKIP";
    default: return "WARN";
    }
}

std::string formatLine(const CheckResult& r) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f s", r.seconds);
    std::string name = r.name;
    if (name.size() < 26) name.resize(26, ' ');
    return std::string(statusWord(r.status)) + "  " + name + "  " + r.reason + "  (" + time + ")";
}

struct Tally {
    int passed = 0, failed = 0, skipped = 0, warned = 0;
};

Tally tally(const std::vector<CheckResult>& results) {
    Tally t;
    for (const CheckResult& r : results) {
        switch (r.status) {
        case CheckStatus::Pass: ++t.passed; break;
        case CheckStatus::Fail: ++t.failed; break;
        case CheckStatus::Skip: ++t.skipped; break;
        case CheckStatus::Warn: ++t.warned; break;
        }
    }
    return t;
}

std::string closingLine(const std::vector<CheckResult>& results) {
    const Tally t = tally(results);
    return std::to_string(t.passed) + " passed, " + std::to_string(t.failed) + " failed, " +
           std::to_string(t.skipped) + " skipped, " + std::to_string(t.warned) + " warned";
}

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') out += '\\', out += ch;
        else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else out += ch;
    }
    return out + "\"";
}

// Written beside the target and renamed over it, so a reader never sees half a file.
bool writeJson(const std::string& path, const CheckOptions& options, uint64_t seed,
               const std::vector<CheckResult>& results) {
    const std::string temporary = path + ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) return false;
        const Tally t = tally(results);
        file << "{\n  \"library\": " << jsonText(options.library) << ",\n  \"seed\": " << seed
             << ",\n  \"strict\": " << (options.strict ? "true" : "false") << ",\n  \"checks\": [";
        for (size_t i = 0; i < results.size(); ++i) {
            const CheckResult& r = results[i];
            char time[32];
            std::snprintf(time, sizeof time, "%.6f", r.seconds);
            file << (i ? ",\n" : "\n") << "    {\"name\": " << jsonText(r.name) << ", \"status\": \""
                 << statusWord(r.status) << "\", \"reason\": " << jsonText(r.reason) << ", \"seconds\": " << time << "}";
        }
        file << "\n  ],\n  \"passed\": " << t.passed << ",\n  \"failed\": " << t.failed << ",\n  \"skipped\": "
             << t.skipped << ",\n  \"warned\": " << t.warned << "\n}\n";
        if (!file.flush()) return false;
    }
    std::remove(path.c_str());  // Windows will not rename over an existing file
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

Outcome runGuarded(const CheckDefinition& check, CheckContext& context) {
    try {
        return check.run(context);
    } catch (const std::exception& e) {
        return fail(e.what());
    } catch (...) {
        return fail("an unknown exception");
    }
}

// What the in-process runner needs when a check brings the process down.
struct Session {
    std::ostream* out = nullptr;
    const CheckOptions* options = nullptr;
    uint64_t seed = 0;
    std::vector<CheckResult>* results = nullptr;
    const char* current = nullptr;
    Clock::time_point started;
    double timeLimit = 0;
};
Session session;

// Reports the running check as failed, closes the report and ends the process.
[[noreturn]] void lastWord(const std::string& why) {
    CheckResult r{session.current ? session.current : "?", CheckStatus::Fail, why, secondsSince(session.started)};
    session.results->push_back(r);
    *session.out << formatLine(r) << '\n' << closingLine(*session.results) << std::endl;
    if (!session.options->json.empty()) writeJson(session.options->json, *session.options, session.seed, *session.results);
    std::fflush(nullptr);
#if defined(_WIN32)
    TerminateProcess(GetCurrentProcess(), 1);
#endif
    std::_Exit(1);
}

#if defined(_WIN32)
LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info) {
    char what[96];
    std::snprintf(what, sizeof what, "crashed (exception 0x%08lX)",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
    lastWord(what);
}

DWORD WINAPI watchdog(void*) {
    for (;;) {
        Sleep(200);
        const char* current = session.current;
        if (current && secondsSince(session.started) > session.timeLimit) {
            char what[64];
            std::snprintf(what, sizeof what, "timed out after %.0f s", session.timeLimit);
            lastWord(what);
        }
    }
}

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

void armLastWord() {
    previousFilter = SetUnhandledExceptionFilter(onUnhandledException);
    static const HANDLE thread = CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);
    (void)thread;
}

void disarmLastWord() { SetUnhandledExceptionFilter(previousFilter); }
#else
void onFatalSignal(int signal) {
    if (signal == SIGALRM) {
        char what[64];
        std::snprintf(what, sizeof what, "timed out after %.0f s", session.timeLimit);
        lastWord(what);
    }
    lastWord(std::string("crashed (signal ") + std::to_string(signal) + ", " + strsignal(signal) + ")");
}

const int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGALRM};

void armLastWord() {
    for (int s : kFatalSignals) std::signal(s, onFatalSignal);
}

void disarmLastWord() {
    for (int s : kFatalSignals) std::signal(s, SIG_DFL);
}
#endif

CheckResult runHere(const CheckDefinition& check, CheckContext& context) {
    session.current = check.name;
    session.started = Clock::now();
#if !defined(_WIN32)
    alarm(static_cast<unsigned>(session.timeLimit + 0.999));
#endif
    const Outcome outcome = runGuarded(check, context);
#if !defined(_WIN32)
    alarm(0);
#endif
    session.current = nullptr;
    return {check.name, outcome.status, outcome.reason, secondsSince(session.started)};
}

#if !defined(_WIN32)
// The child writes one line, a status letter and the reason, and leaves without running any
// exit handler of its own or of the module.
[[noreturn]] void runAsChild(const CheckDefinition& check, CheckContext& context, int fd) {
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

CheckResult runInChild(const CheckDefinition& check, CheckContext& context, double limit, std::ostream& out) {
    CheckResult result{check.name, CheckStatus::Fail, {}, 0.0};
    int fds[2];
    if (pipe(fds) != 0) throw Failure("cannot make a pipe for a check");
    out.flush();
    std::fflush(nullptr);
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child < 0) throw Failure("cannot start a process for a check");
    if (child == 0) {
        close(fds[0]);
        runAsChild(check, context, fds[1]);
    }
    close(fds[1]);
    std::string message;
    bool timedOut = false;
    for (;;) {
        const double left = limit - secondsSince(start);
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left * 1000) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[512];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        message.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (timedOut) kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.seconds = secondsSince(start);
    char text[96];
    if (timedOut) {
        std::snprintf(text, sizeof text, "timed out after %.0f s", limit);
        result.reason = text;
    } else if (!message.empty() && message.back() == '\n') {
        result.status = statusOf(message[0]);
        result.reason = message.substr(1, message.size() - 2);
    } else if (WIFSIGNALED(status)) {
        result.reason = "crashed (signal " + std::to_string(WTERMSIG(status)) + ", " + strsignal(WTERMSIG(status)) + ")";
    } else {
        result.reason = "crashed (the check's process exited with status " +
                        std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
    }
    return result;
}
#endif

}  // namespace

CheckRun runChecks(const CheckOptions& options, std::ostream& out) {
    std::vector<const CheckDefinition*> chosen;
    for (const CheckDefinition& check : checkTable()) {
        if (!options.only.empty() ? options.only == check.name : (!check.strictOnly || options.strict))
            chosen.push_back(&check);
    }
    if (chosen.empty()) {
        std::string names;
        for (const std::string& n : checkNames()) names += (names.empty() ? "" : ", ") + n;
        throw Failure("there is no check named '" + options.only + "'; the checks: " + names);
    }
    if (options.timeLimit <= 0) throw Failure("the time limit must be a positive number of seconds");
    if (!options.json.empty()) {
        std::ofstream probe(options.json + ".part", std::ios::binary | std::ios::trunc);
        if (!probe) throw Failure("cannot write " + options.json);
        probe.close();
        std::remove((options.json + ".part").c_str());
    }
    ModuleLibrary library(options.library);

    CheckRun run;
    run.seed = options.seed ? *options.seed
                            : (static_cast<uint64_t>(std::random_device{}()) << 32) ^
                                  static_cast<uint64_t>(Clock::now().time_since_epoch().count());
    CheckContext context;
    context.entries = library.entries();
    context.seed = run.seed;
    context.strict = options.strict;

    out << "mvmhost check " << options.library << "  seed " << run.seed << (options.strict ? "  strict" : "")
        << "  (" << chosen.size() << (chosen.size() == 1 ? " check)" : " checks)") << std::endl;

#if defined(_WIN32)
    const bool inProcess = true;  // a process takes about a minute to start under emulation
#else
    const bool inProcess = options.inProcess;
#endif
    if (inProcess) {
        session = {&out, &options, run.seed, &run.results, nullptr, Clock::now(), options.timeLimit};
        armLastWord();
    }
    for (const CheckDefinition* check : chosen) {
#if defined(_WIN32)
        CheckResult result = runHere(*check, context);
#else
        CheckResult result = inProcess ? runHere(*check, context) : runInChild(*check, context, options.timeLimit, out);
#endif
        out << formatLine(result) << std::endl;
        run.results.push_back(std::move(result));
    }
    if (inProcess) {
        disarmLastWord();
        session = {};
    }
    out << closingLine(run.results) << std::endl;
    run.exitStatus = tally(run.results).failed > 0 ? 1 : 0;
    if (!options.json.empty() && !writeJson(options.json, options, run.seed, run.results))
        throw Failure("cannot write " + options.json);
    return run;
}

int checkCommand(const CheckOptions& options) { return runChecks(options, std::cout).exitStatus; }

}  // namespace mvmhost
