// One hosted instance fed block by block for the processing checks: seeded inputs, list plugs
// at their defaults, output buffers pre-filled with a marker so unwritten samples show, and
// the guard samples looked at after every call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/mvmhost/contract/stimulus.h"
#include "tools/mvmhost/runtime/hosted_module.h"
#include "tools/mvmhost/runtime/list_text.h"
#include "tools/mvmhost/runtime/module_library.h"
#include "tools/mvmhost/runtime/placement.h"

namespace mvmhost {

// What every instance a check or a chunk makes shares: the library, the seed, the host settings.
struct CheckContext {
    EntryPoints entries;
    uint64_t seed = 0;
    bool strict = false;
    int32_t blockSize = 1024;
    // Blocks a processing check runs; more under --strict.
    int32_t blocks() const { return strict ? 48 : 6; }
};

// A NaN with its own payload: what an output sample holds until the module writes it.
float unwrittenSample();
bool isUnwritten(float value);

// All host requests the instance has made so far.
uint64_t totalRequests(const HostedModule& host);

// The inputs the host made, described or repeated.
std::vector<int32_t> inputPlugs(const HostedModule& host);

// One of the values the description's list offers, at random; none when the pick missed.
std::optional<int16_t> randomListValue(Random& random, const PlugDescription& description);

// Plain: the host's block buffers, every sample of the block readable. Guarded: each input
// stretch flush against an unreadable page, end and start in turn, and the buffers of
// request 7 ending flush against one; a read outside fails the call.
enum class Placement { Plain, Guarded };

class Rig {
public:
    // Makes and opens the instance; `inputSeed` fixes every input sample it will be fed.
    // Opcode 3 announces `announcedBlock` (0: the context's block size, the rig's own).
    Rig(const CheckContext& context, uint64_t inputSeed, int32_t plugCount = -1,
        Placement placement = Placement::Plain, int32_t announcedBlock = 0);

    HostedModule host;

    // Starts the next block: new input samples, outputs set to the unwritten marker.
    void beginBlock();
    // One call of the process entry; raises what went wrong.
    void process(int32_t start, int32_t count);
    // An event at `event.clock` within the current block, the rest of the block laid out
    // first so that the sample the handler may read there is readable.
    void deliver(mv::ModuleEvent event);
    void changeStreamState(int32_t plug, mv::StreamState state, int32_t clock) {
        deliver({clock, mv::PlugStateChange, state, 0, plug, 0});
    }
    // Writes every list plug's default value, as a host does after open.
    void setListDefaults();
    // From the next block on, hands `output` the buffer of `input` (in place), as a host may
    // do: the input's samples are then the module's to overwrite. Plain placement only.
    void shareBuffer(int32_t output, int32_t input);
    int32_t clock() const { return clock_; }
    int32_t blockStart() const { return blockStart_; }

    const std::vector<int32_t>& inputs() const { return inputs_; }
    const std::vector<int32_t>& outputs() const { return outputs_; }
    // The current block of every Signal output, one after the other.
    std::vector<float> outputSamples() const;
    // Names the first sample where two captures differ; empty when they agree.
    std::string firstDifference(const std::vector<float>& mine,
                                const std::vector<float>& other) const;
    std::string plugName(int32_t plug) const {
        return host.plugs()[static_cast<size_t>(plug)].name;
    }

private:
    Random random_;
    int32_t block_;
    int32_t clock_ = 0;
    Placement placement_;
    uint32_t calls_ = 0;
    struct PlacedInput {
        int32_t plug;
        std::unique_ptr<StretchPlacement> stretches;
    };
    std::vector<PlacedInput> placed_;  // inputs with a variable, under Guarded
    void layOut(int32_t start, int32_t count);
    // Runs module code under the trap, raising a read outside as the fault it is.
    template <class Call>
    void trapped(Call& call, const std::string& what);
    int32_t blockStart_ = 0;
    bool started_ = false;
    std::vector<int32_t> inputs_, outputs_;
    std::vector<float> inputCopy_;
    struct Shared {
        int32_t output, input;
    };
    std::vector<Shared> shared_;
    // The buffer the module writes `output`'s samples into this block.
    const float* outputBuffer(int32_t output) const;
    bool carriesOutput(int32_t input) const;
};

}  // namespace mvmhost
