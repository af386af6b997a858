// What every command of the host exits with.
#pragma once

namespace mvmhost::exit_status {

constexpr int kPassed = 0;     // passed, identical, nothing found
constexpr int kFailed = 1;     // a check failed, a difference, a finding
constexpr int kCannotRun = 2;  // the command line, a file or a library unusable
// A run a signal stopped ends as a shell expects of a process that signal ended.
constexpr int kSignalBase = 128;
constexpr int kHangUp = kSignalBase + 1;       // SIGHUP, a closed console
constexpr int kInterrupted = kSignalBase + 2;  // SIGINT, Ctrl-C
constexpr int kTerminated = kSignalBase + 15;  // SIGTERM

constexpr bool isInterruption(int status) { return status > kSignalBase; }

}  // namespace mvmhost::exit_status
