// Ctrl-C, SIGTERM, a hang-up or a closed console during a run: the run stops at the next
// block and unwinds, which removes every unfinished file, and the program exits 128 + the
// signal (130 for Ctrl-C, 143 for SIGTERM), as shells expect.
#pragma once

namespace mvmhost {

// While one lives, those requests are noted instead of ending the process at once. A signal
// that was ignored when the program started (a shell's background job) stays ignored.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
};

// Throws an Error of the interruption's exit status once a request to stop has come; cheap enough for every block.
void stopIfInterrupted();

}  // namespace mvmhost
