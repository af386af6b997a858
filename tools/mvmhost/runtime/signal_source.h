// What the host's running loop reads a Signal input's samples from; signal_io/ makes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/stream_state.h"

namespace mvmhost {

constexpr double kDefaultSampleRate = 44100;

class SignalSource {
public:
    virtual ~SignalSource() = default;
    // Samples first .. first + count - 1. Allocates nothing: it runs once per block. A render
    // asks block after block; a file's source reads on from where it stopped, so it takes no
    // other order, while a generator answers any stretch.
    virtual void fill(int32_t first, float* out, int32_t count) = 0;
    // A constant is Static; anything that may change at every sample is Streaming.
    virtual mv::StreamState initialState() const { return mv::Streaming; }
    // Clocks at which a Static source changes its value once.
    virtual std::vector<int32_t> changeClocks() const { return {}; }
    // Samples a file holds; -1 for a generator, which never ends.
    virtual int64_t length() const { return -1; }
    // An audio file's own sample rate; 0 when the source has none.
    virtual int32_t sampleRate() const { return 0; }
    // The file read; empty for a generator.
    virtual std::string file() const { return {}; }
};

}  // namespace mvmhost
