// Running one check so that its crash or hang cannot take the run down with it: in a child
// process with a time limit where the platform can fork, else here, with a last word printed
// from the signal or exception handler before the process ends.
#pragma once

#include <string>

#include "tools/mvmhost/check/check_list.h"

namespace mvmhost {

class Isolation {
public:
    // Called once, in this process only, when a check brings it down or Ctrl-C comes: the
    // runner reports `last` and what did not run, then the process ends.
    using LastWord = void (*)(const CheckResult& last, void* data);

    Isolation(const CheckOptions& options, LastWord lastWord, void* data);
    ~Isolation();
    Isolation(const Isolation&) = delete;
    Isolation& operator=(const Isolation&) = delete;

    // A check cut short by Ctrl-C comes back NotRun, and interrupted() is true from then on.
    CheckResult run(const CheckDefinition& check, CheckContext& context);
    bool interrupted() const;
    bool inProcess() const { return inProcess_; }

private:
    bool inProcess_;
    double timeLimit_;
};

// Runs the check and turns what it raises into its verdict.
Outcome runGuarded(const CheckDefinition& check, CheckContext& context);

}  // namespace mvmhost
