// The host's running loop: fills each block's input buffers, cuts the block into stretches
// at every scheduled change and posted event (and, when asked, at random places), delivers
// the changes between stretches, and hands each finished block on.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "tools/mvmhost/base/random.h"
#include "tools/mvmhost/runtime/hosted_module.h"
#include "tools/mvmhost/runtime/signal_source.h"

namespace mvmhost {

// Something the host changes at a sample clock, before that sample is processed.
struct ScheduledChange {
    enum Kind { StreamState, ListValue, Event };
    int32_t clock;
    int32_t plug;
    Kind kind;
    int32_t value;            // the new StreamState, or the new list value (told as a SingleChange)
    mv::ModuleEvent event{};  // Event: delivered as it is, at `clock`
};

struct Feed {
    int32_t plug;
    SignalSource* source;
};

struct RenderJob {
    int32_t samples = 0;
    std::vector<Feed> feeds;
    std::vector<ScheduledChange> changes;
    std::optional<uint64_t> splitSeed;  // random stretch lengths, 0 included, when set
};

class BlockSink {
public:
    virtual ~BlockSink() = default;
    // The block's samples first .. first + count - 1 are in the host's buffers.
    virtual void take(const HostedModule& host, int32_t first, int32_t count) = 0;
};

struct RenderCounts {
    int64_t blocks = 0;
    int64_t processCalls = 0;
    int64_t changes = 0;
};

// Lengths of process calls: the whole stretch, or with a seed a random part of it.
class StretchSplitter {
public:
    explicit StretchSplitter(std::optional<uint64_t> seed);
    // At most `remaining` (which is at least 1); 0 now and then, never twice in a row.
    int32_t next(int32_t remaining);

private:
    bool split_;
    Random random_;
    bool lastWasEmpty_ = false;
};

// Runs the open module through the job. Throws Error when the module wrote outside a buffer,
// Interrupted when the user asked it to stop.
RenderCounts runBlocks(HostedModule& host, RenderJob job, BlockSink& sink,
                       const std::function<void(int64_t done)>& progress = {});
// Several open instances with the same plugs in step: the same inputs, changes and process
// calls for each; a stretch ends where any of them has a posted event due. The sink takes
// each finished block from every host in turn, in the order given.
RenderCounts runBlocks(const std::vector<HostedModule*>& hosts, RenderJob job, BlockSink& sink,
                       const std::function<void(int64_t done)>& progress = {});

}  // namespace mvmhost
