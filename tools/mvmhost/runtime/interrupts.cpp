#include "tools/mvmhost/runtime/interrupts.h"

#include <atomic>
#include <csignal>

#include "tools/mvmhost/base/error.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace mvmhost {
namespace {

// The exit status asked for; 0 while nobody asked. Lock-free, so a handler may store it.
std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free);

#if defined(_WIN32)
constexpr DWORD kCloseGraceMs = 100;

BOOL WINAPI onConsoleEvent(DWORD event) {
    const bool closing =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    requested.store(closing ? exit_status::kTerminated : exit_status::kInterrupted);
    // Windows ends the process as soon as a close handler returns: wait here while the main
    // thread removes its files and exits, which ends this thread too.
    if (closing)
        for (;;) Sleep(kCloseGraceMs);
    return TRUE;
}
#else
constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[sizeof kWatched / sizeof kWatched[0]];

void onSignal(int signal) { requested.store(exit_status::kSignalBase + signal); }
#endif

int watchDepth = 0;  // watches nest (a batch's renders); the outermost installs and restores

}  // namespace

InterruptWatch::InterruptWatch(bool evenIgnored) {
    if (watchDepth++ > 0) return;
    requested.store(0);  // a new run: what stopped an earlier one is past
#if defined(_WIN32)
    (void)evenIgnored;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    for (size_t i = 0; i < sizeof kWatched / sizeof kWatched[0]; ++i) {
        sigaction(kWatched[i], nullptr, &previous[i]);
        if (previous[i].sa_handler == SIG_IGN && (!evenIgnored || kWatched[i] == SIGHUP)) continue;
        struct sigaction action {};
        action.sa_handler = onSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(kWatched[i], &action, nullptr);
    }
#endif
}

InterruptWatch::~InterruptWatch() {
    if (--watchDepth > 0) return;
#if defined(_WIN32)
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#else
    for (size_t i = 0; i < sizeof kWatched / sizeof kWatched[0]; ++i)
        sigaction(kWatched[i], &previous[i], nullptr);
#endif
}

int stopRequested() { return requested.load(std::memory_order_relaxed); }

void stopIfInterrupted() {
    if (const int status = stopRequested()) throw Error("interrupted", status);
}

}  // namespace mvmhost
