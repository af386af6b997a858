// Each check in the sandbox: in a child process of its own where the platform can fork, else
// here, in order, on a library loaded afresh for it.
#pragma once

#include <memory>
#include <string>

#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/runtime/sandbox.h"

namespace mvmhost {

class Isolation {
public:
    // Called once, in this process only, when a check brings it down or Ctrl-C comes: the
    // runner reports `last` and what did not run, then the process ends.
    using LastWord = void (*)(const CheckResult& last, void* data);

    Isolation(const CheckOptions& options, LastWord lastWord, void* data);

    // A check cut short by Ctrl-C comes back NotRun, and interrupted() is true from then on.
    CheckResult run(const CheckDefinition& check, CheckContext& context);
    bool interrupted() const { return sandbox_.interrupted(); }
    int interruptionStatus() const { return sandbox_.interruptionStatus(); }
    bool inProcess() const { return inProcess_; }

private:
    Sandbox sandbox_;
    bool inProcess_;
    double timeLimit_;
    LastWord lastWord_;
    void* data_;
    std::string library_;
    CheckResult runInChild(const CheckDefinition& check, CheckContext& context);
    CheckResult runHere(const CheckDefinition& check, CheckContext& context);
};

// Runs the check and turns what it raises into its verdict.
Outcome runGuarded(const CheckDefinition& check, CheckContext& context);

}  // namespace mvmhost
