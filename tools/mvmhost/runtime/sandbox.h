// Running units of work (a check, a fuzz chunk) so that a crash or a hang in module code
// cannot take the run down with it: each in a child process with a time limit where the
// platform can fork, else here, with a last word said from the crash or signal handler before
// the process ends. Ctrl-C, SIGTERM and SIGHUP end every child and stop the run alike.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/mvmhost/base/elapsed.h"

namespace mvmhost {

class InterruptWatch;

constexpr double kNoTimeLimit = 0;  // for a unit that may take as long as it takes

// Memory a child writes and its parent still reads after the child died: an answer, a journal.
// Plain bytes, zeroed; here when the platform cannot fork.
class SharedMemory {
public:
    explicit SharedMemory(size_t bytes);
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    void* data() const { return data_; }
    size_t size() const { return size_; }

private:
    void* data_;
    size_t size_;
};

// How a unit of work ended.
struct Verdict {
    enum Kind {
        Exited,       // on its own: `exitStatus` says how
        Crashed,      // a signal or a sanitizer ended it: `crash` says which
        TimedOut,     // still running at the time limit; ended
        Interrupted,  // ended because the user asked the run to stop
    };
    Kind kind = Exited;
    int exitStatus = 0;  // Interrupted: the status the signal asks for (130, 143, 129)
    // "signal 11, Segmentation fault", or a sanitizer's one-line summary.
    std::string crash;
    bool sanitizer = false;  // `crash` is a sanitizer's summary
    // The standard error of a child that crashed or exited with a status other than 0, kept
    // for the reader when it holds anything.
    std::string log;
    double seconds = 0;
};

class Sandbox {
public:
    // `kind` names the children's logs ("check", "fuzz"); `timeLimit` is in seconds, 0 for none.
    Sandbox(std::string kind, double timeLimit);
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // Whether units run in child processes here: not on Windows, where a process takes a
    // minute to start under emulation.
    static bool canFork();

    // Starts `work` in a child process and answers its id. The child's answer is its exit
    // status; its standard error goes to a log, and with `quiet` its standard output is gone.
    int start(const std::string& unit, const std::function<int()>& work, bool quiet = false);
    struct Ended {
        int id;
        Verdict verdict;
    };
    // A child that ended or ran out of time, waiting for one while any runs, but at most
    // `wait` seconds when that is given. On a request to stop every child is ended and each
    // comes back Interrupted, unless it had exited first.
    std::optional<Ended> next(std::optional<double> wait = std::nullopt);
    // Ends a child that is no longer wanted; its log goes with it.
    void cut(int id);
    size_t running() const { return children_.size(); }

    // Runs `work` in this process, with the time limit (none when it is 0) and a last word:
    // when module code crashes, the time runs out or the user asks to stop, `lastWord` gets
    // the verdict and the process ends with its exit status, or for a stop with the signal's
    // (130, 143, 129), so that every command ends alike. Answers the seconds it took. The last
    // word runs in a signal handler: it removes files and prints, and returns.
    using LastWord = std::function<int(const std::string& unit, const Verdict& verdict)>;
    double runHere(const std::string& unit, const std::function<void()>& work, LastWord lastWord);

    // Whether the user asked the run to stop, and the exit status that asks for.
    bool interrupted() const;
    int interruptionStatus() const;

private:
    struct Child {
        int id = 0;  // the process id
        Clock::time_point started;
        std::string log;
    };
    std::string kind_;
    double timeLimit_;
    std::string logDir_;
    std::vector<Child> children_;
    std::unique_ptr<InterruptWatch> watch_;
    Verdict finish(Child& child, int status, Verdict::Kind forced);
};

// "timed out after 30 s".
std::string timedOutText(double limit);

// The sanitizer's one-line summary in a report ("AddressSanitizer: SEGV on unknown address
// ..."), else the first runtime error or error it names; empty when there is none.
std::string sanitizerSummary(const std::string& log);

}  // namespace mvmhost
