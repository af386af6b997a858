// Ctrl-C, SIGTERM, a hang-up or a closed console during a run: the run stops at the next
// block and unwinds, which removes every unfinished file, and the program exits 128 + the
// signal (130 for Ctrl-C, 143 for SIGTERM), as shells expect.
#pragma once

namespace mvmhost {

// What a command says, on one line, when a request to stop ended it.
constexpr const char* kInterruptedText = "interrupted; unfinished files removed";

// While one lives, those requests are noted instead of ending the process at once. A signal
// that was ignored when the program started (a shell's background job) stays ignored, unless
// `evenIgnored`: a run of children is still ended by Ctrl-C and SIGTERM there, though a hang-up
// under nohup is not heard.
class InterruptWatch {
public:
    explicit InterruptWatch(bool evenIgnored = false);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
};

// The exit status a request to stop asks for (130 for Ctrl-C, 143 for SIGTERM); 0 while none
// has come. Cheap enough for every block.
int stopRequested();
// Throws an Error of that exit status once a request to stop has come.
void stopIfInterrupted();

}  // namespace mvmhost
