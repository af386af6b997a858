#include "tools/mvmhost/runtime/render_loop.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/runtime/interrupts.h"

namespace mvmhost {

StretchSplitter::StretchSplitter(std::optional<uint64_t> seed)
    : split_(seed.has_value()), random_(seed.value_or(0)) {}

int32_t StretchSplitter::next(int32_t remaining) {
    if (!split_) return remaining;
    auto upTo = [&](int32_t most) {
        return 1 + static_cast<int32_t>(random_.next() %
                                        static_cast<uint64_t>(std::min(remaining, most)));
    };
    int32_t length;
    switch (random_.next() % 8) {
    case 0:
        length = lastWasEmpty_ ? upTo(3) : 0;
        break;
    case 1:
    case 2:
        length = upTo(3);
        break;
    case 3:
    case 4:
    case 5:
        length = upTo(64);
        break;
    default:
        length = remaining;
        break;
    }
    lastWasEmpty_ = length == 0;
    return length;
}

RenderCounts runBlocks(HostedModule& host, RenderJob job, BlockSink& sink,
                       const std::function<void(int64_t done)>& progress) {
    return runBlocks(std::vector<HostedModule*>{&host}, std::move(job), sink, progress);
}

RenderCounts runBlocks(const std::vector<HostedModule*>& hosts, RenderJob job, BlockSink& sink,
                       const std::function<void(int64_t done)>& progress) {
    std::stable_sort(
        job.changes.begin(), job.changes.end(),
        [](const ScheduledChange& a, const ScheduledChange& b) { return a.clock < b.clock; });
    HostedModule& lead = *hosts.front();
    std::vector<char> fed(lead.plugs().size(), 0);
    for (const Feed& feed : job.feeds) fed[static_cast<size_t>(feed.plug)] = 1;
    StretchSplitter splitter(job.splitSeed);
    RenderCounts counts;
    size_t nextChange = 0;

    for (int64_t first = 0; first < job.samples; first += lead.blockSize()) {
        stopIfInterrupted();
        const int32_t start = static_cast<int32_t>(first);
        const int32_t n =
            static_cast<int32_t>(std::min<int64_t>(lead.blockSize(), job.samples - first));
        // A source is read once: a file's reads on from where it stopped.
        for (const Feed& feed : job.feeds) feed.source->fill(start, lead.buffer(feed.plug), n);
        for (const HostPlug& plug : lead.plugs())
            if (!fed[static_cast<size_t>(plug.index)])
                std::fill_n(lead.buffer(plug.index), n, 0.0f);
        for (HostedModule* host : hosts) {
            if (host != &lead)
                for (const HostPlug& plug : lead.plugs())
                    if (plug.isInput())
                        std::copy_n(lead.buffer(plug.index), n, host->buffer(plug.index));
            host->beginBlock(start);
        }

        for (int32_t pos = 0; pos < n;) {
            const int32_t clock = start + pos;
            for (; nextChange < job.changes.size() && job.changes[nextChange].clock <= clock;
                 ++nextChange) {
                const ScheduledChange& c = job.changes[nextChange];
                for (HostedModule* host : hosts) {
                    if (c.kind == ScheduledChange::ListValue) {
                        host->setListValue(c.plug, static_cast<int16_t>(c.value));
                        host->changeStreamState(c.plug, mv::SingleChange, clock);
                    } else if (c.kind == ScheduledChange::Event) {
                        host->deliver(c.event);
                    } else {
                        host->changeStreamState(c.plug, static_cast<mv::StreamState>(c.value),
                                                clock);
                    }
                }
                ++counts.changes;
            }
            // The stretch ends where the next change or posted event is due; one posted for a
            // clock already passed waits for the next stretch, so every stretch moves on.
            int64_t end = n;
            if (nextChange < job.changes.size())
                end = std::min<int64_t>(end, int64_t{job.changes[nextChange].clock} - start);
            for (HostedModule* host : hosts) {
                host->deliverPostedUpTo(clock);
                const int32_t posted = host->nextPostedClock();
                if (posted != INT32_MAX && posted > clock)
                    end = std::min<int64_t>(end, int64_t{posted} - start);
            }
            const int32_t length = splitter.next(static_cast<int32_t>(end) - pos);
            for (HostedModule* host : hosts) host->process(pos, length);
            ++counts.processCalls;
            pos += length;
        }

        for (HostedModule* host : hosts)
            for (const HostPlug& plug : host->plugs())
                if (!host->guardsIntact(plug.index))
                    throw Error("the module wrote outside the buffer of plug " + plug.name +
                                " in the block from sample " + std::to_string(first));
        for (HostedModule* host : hosts) sink.take(*host, start, n);
        ++counts.blocks;
        if (progress) progress(first + n);
    }
    return counts;
}

}  // namespace mvmhost
