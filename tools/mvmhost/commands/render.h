// `mvmhost render`: one module run on signals from generators and files, written to files.
// The demo runs the same way on a scenario of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/mvmhost/runtime/hosted_module.h"
#include "tools/mvmhost/runtime/render_loop.h"
#include "tools/mvmhost/signal_io/sources.h"

namespace mvmhost {

constexpr int32_t kMaxSampleRate = 10000000;
constexpr int32_t kMaxBlockSize = 1 << 20;

struct RenderOptions {
    std::string library;
    std::vector<std::string> inputs;      // PLUG=SOURCE
    std::vector<std::string> inputFiles;  // CSV files whose columns are named after inputs
    std::vector<std::string> lists;       // PLUG=LABEL, or PLUG=LABEL@SAMPLE for a change
    std::vector<std::string> events;      // CLOCK:TYPE:P1:P2, delivered before that sample
    int32_t plugCount = -1;               // plugs the host makes; negative: as many as described
    std::vector<std::string> outputs;     // .csv or .wav files
    std::string plot;                     // a picture of every signal, .png or .svg; empty: none
    bool withInputs = false;              // inputs are written beside the outputs
    double sampleRate = 0;                // 0: an audio input's rate, else 44100
    int32_t blockSize = 1024;
    std::string samples;  // as typed; empty: the input files' length, else one second
    std::optional<uint64_t> splitSeed;
    bool quiet = false;
    bool logRequests = false;
};

// A checked plan: the module made, every input fed, every list value and change resolved.
class Render {
public:
    // Throws Error naming the first thing that does not fit.
    Render(const EntryPoints& entries, const RenderOptions& options);

    HostedModule& host() { return *host_; }
    int32_t samples() const { return job_.samples; }
    // The plugs written out, in plug order: the Signal outputs, and the inputs when asked.
    const std::vector<int32_t>& columns() const { return columns_; }
    std::vector<std::string> columnNames() const;
    const std::vector<ScheduledChange>& changes() const { return job_.changes; }
    // The files the inputs are read from.
    std::vector<std::string> inputFiles() const;

    // Opens the module, sets its list values and runs every block.
    RenderCounts run(BlockSink& sink, const std::function<void(int64_t done)>& progress = {});

private:
    void feedInputs(const RenderOptions& options,
                    std::vector<std::pair<std::string, std::unique_ptr<SignalSource>>> named);
    void chooseLength(const RenderOptions& options);
    void setLists(const RenderOptions& options);
    void scheduleEvents(const RenderOptions& options);
    void scheduleStates();

    std::unique_ptr<HostedModule> host_;
    std::vector<std::unique_ptr<SignalSource>> sources_;
    RenderJob job_;
    std::vector<std::pair<int32_t, int16_t>> initialLists_;
    std::vector<int32_t> columns_;
};

// Hands every block to each writer, for the given plugs.
class WriterSink : public BlockSink {
public:
    WriterSink(std::vector<int32_t> columns,
               std::vector<std::unique_ptr<class SampleWriter>> writers);
    ~WriterSink() override;
    void take(const HostedModule& host, int32_t first, int32_t count) override;
    // Completes every file, then puts them in place together with `others`, already complete:
    // all of them or, when one fails, none.
    void finish(const std::vector<class PendingFile*>& others = {});
    // The files being written, under their temporary names.
    std::vector<std::string> temporaryPaths() const;

private:
    std::vector<int32_t> columns_;
    std::vector<const float*> pointers_;
    std::vector<std::unique_ptr<SampleWriter>> writers_;
};

int renderCommand(const RenderOptions& options);

}  // namespace mvmhost
