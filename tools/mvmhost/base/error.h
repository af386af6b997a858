// The one error of the host: raised where a problem is seen, with the context it was met in
// added on the way up, reported once with the exit status it ends a command with.
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "tools/mvmhost/base/exit_status.h"

namespace mvmhost {

// Thrown inside the host only; never across a module's entry points (what a host callback
// sees is recorded there and raised once the entry has returned).
class Error : public std::exception {
public:
    explicit Error(std::string message, int exitStatus = exit_status::kCannotRun)
        : text_(std::move(message)), exitStatus_(exitStatus) {}
    // The message, then each context it was raised within, innermost first.
    const char* what() const noexcept override { return text_.c_str(); }
    int exitStatus() const { return exitStatus_; }
    // Ctrl-C, SIGTERM or a hang-up: the run was asked to stop, nothing went wrong.
    bool interruption() const { return exit_status::isInterruption(exitStatus_); }
    void addContext(const std::string& context) { text_ += " " + context; }

private:
    std::string text_;
    int exitStatus_;
};

// A module broke a rule a host relies on: a check's failure, a fuzzer's finding.
[[noreturn]] inline void fault(std::string what) {
    throw Error(std::move(what), exit_status::kFailed);
}

// Runs `work`; an error raised inside it leaves with `context` ("in block 3") appended.
template <class Work>
decltype(auto) within(const std::string& context, Work&& work) {
    try {
        return work();
    } catch (Error& error) {
        error.addContext(context);
        throw;
    }
}

}  // namespace mvmhost
