#include "tools/mvmhost/commands/render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/files.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/commands/progress_bar.h"
#include "tools/mvmhost/commands/render_options.h"
#include "tools/mvmhost/runtime/interrupts.h"
#include "tools/mvmhost/runtime/list_text.h"
#include "tools/mvmhost/runtime/module_library.h"
#include "tools/mvmhost/runtime/sandbox.h"
#include "tools/mvmhost/signal_io/csv.h"
#include "tools/mvmhost/signal_io/file_sources.h"
#include "tools/mvmhost/signal_io/plot.h"
#include "tools/mvmhost/signal_io/sample_writers.h"

namespace mvmhost {
namespace {

const char* requestName(int32_t request) {
    switch (request) {
    case mv::hostSetOutputState:
        return "output state";
    case mv::hostPlugQuery:
        return "plug query";
    case mv::hostPlugNotice:
        return "plug notice";
    case mv::hostPostEvent:
        return "posted event";
    default:
        return "unknown request";
    }
}

}  // namespace

Render::Render(const EntryPoints& entries, const RenderOptions& options) {
    if (options.blockSize < 1 || options.blockSize > kMaxBlockSize)
        throw Error("--block must be from 1 to " + std::to_string(kMaxBlockSize) + " samples");
    // Files first: their rate becomes the render's, and generators count their times in it.
    std::vector<std::pair<std::string, std::unique_ptr<SignalSource>>> named;
    std::vector<std::pair<size_t, std::string>> generators;  // where in `named`, and the text
    for (const std::string& input : options.inputs) {
        auto [plug, text] = splitAssignment(input, "--in", "PLUG=SOURCE");
        if (namesGenerator(text)) generators.emplace_back(named.size(), text);
        named.emplace_back(plug, namesGenerator(text) ? nullptr : makeSource(text, plug));
    }
    for (const std::string& file : options.inputFiles)
        for (auto& column : csvColumnSources(file)) named.push_back(std::move(column));

    double rate = options.sampleRate;
    if (rate < 0 || rate > kMaxSampleRate || std::isnan(rate))
        throw Error("--rate must be a positive number of samples per second");
    for (const auto& [plug, source] : named) {
        const int32_t own = source ? source->sampleRate() : 0;
        if (own == 0 || own == rate) continue;
        if (rate != 0)
            throw Error("the file fed to " + plug + " is at " + std::to_string(own) +
                        " Hz, the render at " + formatSample(static_cast<float>(rate)) + " Hz");
        rate = own;
    }
    HostSettings settings;
    settings.sampleRate = static_cast<float>(rate != 0 ? rate : kDefaultSampleRate);
    settings.blockSize = options.blockSize;
    settings.plugCount = options.plugCount;
    host_ = std::make_unique<HostedModule>(entries, settings);
    for (const auto& [at, text] : generators)
        named[at].second = makeSource(text, named[at].first, host_->sampleRate());

    feedInputs(options, std::move(named));
    chooseLength(options);
    setLists(options);
    scheduleEvents(options);
    scheduleStates();
    for (const HostPlug& plug : host_->plugs())
        if (plug.isSignal() && (plug.isOutput() || (options.withInputs && plug.isInput())))
            columns_.push_back(plug.index);
}

void Render::feedInputs(const RenderOptions&,
                        std::vector<std::pair<std::string, std::unique_ptr<SignalSource>>> named) {
    std::vector<char> fed(host_->plugs().size(), 0);
    for (auto& [name, source] : named) {
        const HostPlug& plug = host_->plugNamed(name);
        if (!plug.isInput()) throw Error(name + " is an output; only inputs are fed");
        if (plug.isList())
            throw Error(name + " is a list plug; choose its item with --set " + name + "=LABEL");
        if (!plug.isSignal())
            throw Error(name + " carries datatype " + std::to_string(plug.datatype) +
                        ", not signal samples");
        if (fed[static_cast<size_t>(plug.index)]++) throw Error(name + " is fed twice");
        job_.feeds.push_back({plug.index, source.get()});
        sources_.push_back(std::move(source));
    }
    // An input nobody feeds holds the value its description starts it with.
    for (const HostPlug& plug : host_->plugs()) {
        if (!plug.isSignal() || !plug.isInput() || fed[static_cast<size_t>(plug.index)]) continue;
        float units = 0.0f;
        if (plug.description && plug.description->defaultValue &&
            !parseSample(*plug.description->defaultValue, units))
            units = 0.0f;
        sources_.push_back(constantSource(units));
        job_.feeds.push_back({plug.index, sources_.back().get()});
    }
}

void Render::chooseLength(const RenderOptions& options) {
    int64_t shortest = -1, longest = -1;
    std::string shortName;
    for (const Feed& feed : job_.feeds) {
        const int64_t length = feed.source->length();
        if (length < 0) continue;
        if (shortest < 0 || length < shortest) {
            shortest = length;
            shortName = host_->plugs()[static_cast<size_t>(feed.plug)].name;
        }
        longest = std::max(longest, length);
    }
    int64_t samples = -1;
    if (!options.samples.empty()) {
        const std::optional<SampleTime> length = SampleTime::parse(options.samples);
        if (!length)
            throw Error("--samples " + options.samples + ": give " + kSampleTimeForms +
                        (options.samples[0] == '-' ? "; a length is never negative" : ""));
        samples = length->at(host_->sampleRate());
        if (samples < 1)
            throw Error(
                "--samples " + options.samples +
                (length->isTime() ? " (" + length->describe(host_->sampleRate()) + ")" : "") +
                ": a render needs at least 1 sample");
    }
    if (samples >= 0) {
        if (shortest >= 0 && shortest < samples)
            throw Error("the file fed to " + shortName + " holds " + std::to_string(shortest) +
                        " samples; the render needs " + std::to_string(samples));
    } else if (shortest >= 0) {
        if (shortest != longest)
            throw Error("the input files differ in length (" + std::to_string(shortest) + " and " +
                        std::to_string(longest) + " samples); choose a length with --samples");
        samples = shortest;
    } else {
        samples = std::llround(host_->sampleRate());  // one second
        if (samples < 1)
            throw Error("one second at " + formatSample(host_->sampleRate()) +
                        " Hz is not one sample; choose a length with --samples");
    }
    if (samples > INT32_MAX) throw Error("a render holds at most 2147483647 samples");
    job_.samples = static_cast<int32_t>(samples);
    job_.splitSeed = options.splitSeed;
}

void Render::setLists(const RenderOptions& options) {
    for (const HostPlug& plug : host_->plugs()) {
        if (!plug.isList() || !plug.isInput()) continue;
        initialLists_.emplace_back(plug.index,
                                   plug.description ? defaultListValue(*plug.description) : 0);
    }
    std::map<std::pair<int32_t, int64_t>, std::string> given;  // plug and clock (-1: the start)
    for (const std::string& text : options.lists) {
        const ListSetting setting = parseListSetting(text);
        const std::string& name = setting.plug;
        const std::string& label = setting.label;
        const HostPlug& plug = host_->plugNamed(name);
        if (plug.isOutput())
            throw Error(name + " is an output; --set chooses the item of a list input");
        if (!plug.isList() || !plug.isInput())
            throw Error(name + " is not a list input; feed signals with --in " + name + "=SOURCE");
        const int64_t clock = setting.position ? setting.position->at(host_->sampleRate()) : -1;
        // A change at sample 0 and a value for the start would both decide the first sample.
        const auto [before, fresh] =
            given.emplace(std::make_pair(plug.index, std::max<int64_t>(clock, 0)), text);
        if (!fresh)
            throw Error("--set " + text + ": --set " + before->second + " already " +
                        (clock <= 0 ? "sets " + name + " for the start"
                                    : "changes " + name + " at sample " + std::to_string(clock)));
        const int16_t value = listValueOfLabel(plug, label);
        if (clock < 0) {
            for (auto& initial : initialLists_)
                if (initial.first == plug.index) initial.second = value;
        } else if (clock >= job_.samples) {
            throw Error("--set " + text + ": the render ends at sample " +
                        std::to_string(int64_t{job_.samples} - 1));
        } else {
            job_.changes.push_back(
                {static_cast<int32_t>(clock), plug.index, ScheduledChange::ListValue, value});
        }
    }
}

void Render::scheduleEvents(const RenderOptions& options) {
    for (const std::string& text : options.events) {
        const mv::ModuleEvent event = parseEvent(text, host_->sampleRate(), job_.samples);
        job_.changes.push_back({event.clock, 0, ScheduledChange::Event, 0, event});
    }
}

// Inputs that stream are announced as such from the start; a level set by hand changes once.
void Render::scheduleStates() {
    for (const Feed& feed : job_.feeds) {
        const mv::StreamState state = feed.source->initialState();
        if (state != mv::Static && job_.samples > 0)
            job_.changes.push_back({0, feed.plug, ScheduledChange::StreamState, state});
        for (int32_t clock : feed.source->changeClocks()) {
            if (clock >= job_.samples)
                throw Error(
                    "the steps fed to " + host_->plugs()[static_cast<size_t>(feed.plug)].name +
                    " change at sample " + std::to_string(clock) + "; the render ends at sample " +
                    std::to_string(int64_t{job_.samples} - 1));
            job_.changes.push_back(
                {clock, feed.plug, ScheduledChange::StreamState, mv::SingleChange});
        }
    }
}

std::vector<std::string> Render::columnNames() const {
    std::vector<std::string> names;
    for (int32_t plug : columns_) names.push_back(host_->plugs()[static_cast<size_t>(plug)].name);
    return names;
}

RenderCounts Render::run(BlockSink& sink, const std::function<void(int64_t done)>& progress) {
    host_->open();
    // After open: a module sets its own start values there, and the host's choice wins.
    for (const auto& [plug, value] : initialLists_) host_->setListValue(plug, value);
    return runBlocks(*host_, job_, sink, progress);
}

WriterSink::WriterSink(std::vector<int32_t> columns,
                       std::vector<std::unique_ptr<SampleWriter>> writers)
    : columns_(std::move(columns)), pointers_(columns_.size()), writers_(std::move(writers)) {}

WriterSink::~WriterSink() = default;

void WriterSink::take(const HostedModule& host, int32_t, int32_t count) {
    for (size_t c = 0; c < columns_.size(); ++c) pointers_[c] = host.buffer(columns_[c]);
    for (auto& writer : writers_) writer->write(pointers_.data(), count);
}

void WriterSink::finish(const std::vector<PendingFile*>& others) {
    std::vector<PendingFile*> files;
    for (auto& writer : writers_) {
        writer->complete();
        files.push_back(&writer->file());
    }
    files.insert(files.end(), others.begin(), others.end());
    commitAll(files);
}

std::vector<std::string> WriterSink::temporaryPaths() const {
    std::vector<std::string> paths;
    for (const auto& writer : writers_) paths.push_back(writer->file().tempPath());
    return paths;
}

std::vector<std::string> Render::inputFiles() const {
    std::vector<std::string> files;
    for (const auto& source : sources_)
        if (std::string file = source->file(); !file.empty()) files.push_back(std::move(file));
    return files;
}

namespace {

// Every output is checked before the module runs, so that a render never runs for nothing.
void refuseBadOutputs(const RenderOptions& options, Render& render) {
    std::vector<std::string> inputs = render.inputFiles();
    inputs.push_back(options.library);
    std::vector<NamedOutput> written;
    for (const std::string& path : options.outputs) written.push_back({"--out " + path, path});
    if (!options.plot.empty()) written.push_back({"--plot " + options.plot, options.plot});
    refuseOverwrites("render", written, inputs);
    // A WAV header holds a whole number of samples per second.
    for (const std::string& path : options.outputs) {
        if (lowerExtension(path) == ".wav" &&
            render.host().sampleRate() != std::floor(render.host().sampleRate()))
            throw Error("--out " + path +
                        ": a WAV file holds a whole number of samples per second, not " +
                        formatSample(render.host().sampleRate()));
    }
    if (render.columns().empty())
        throw Error(
            "the module has no Signal outputs to write; --with-inputs writes its inputs too");
}

// Where in the module a crash came: "in its process routine at sample 2048".
std::string whereInModule(const HostedModule& host) {
    const std::string at = " at sample " + std::to_string(host.clock());
    switch (host.entered()) {
    case HostedModule::Entry::Process:
        return "in its process routine" + at;
    case HostedModule::Entry::Event:
        return "in its event routine" + at;
    case HostedModule::Entry::Dispatcher:
        return "in its dispatcher" + at;
    case HostedModule::Entry::None:
        break;
    }
    return "outside its calls" + at;
}

// Each request the host did not answer, for --log.
void printRequestLog(const HostedModule& host) {
    for (const LoggedRequest& r : host.log())
        std::fprintf(stderr, "sample %d: request %d (%s), index %d, value %d, ptr %lld\n", r.clock,
                     r.request, requestName(r.request), r.index, r.value,
                     static_cast<long long>(r.ptr));
    if (host.droppedLogEntries() > 0)
        std::fprintf(stderr, "%llu more requests not kept\n",
                     static_cast<unsigned long long>(host.droppedLogEntries()));
}

// What ran and what was written, on standard output.
void printSummary(const ModuleIdentity& identity, Render& render, const RenderCounts& counts,
                  const RenderOptions& options) {
    const HostedModule& host = render.host();
    std::printf(
        "%s: %d samples at %s Hz in blocks of %d; process calls: %lld, changes delivered: %lld\n",
        printable(identity.identifier).c_str(), render.samples(),
        formatSample(host.sampleRate()).c_str(), host.blockSize(),
        static_cast<long long>(counts.processCalls), static_cast<long long>(counts.changes));
    std::string requests;
    for (int32_t r = 0; r <= HostedModule::kRequestSlots; ++r)
        if (const uint64_t n = host.requestCount(r))
            requests += (requests.empty() ? "" : ", ") +
                        (r < HostedModule::kRequestSlots ? std::to_string(r) : "other") + " x" +
                        std::to_string(n);
    std::printf("host requests: %s\n", requests.empty() ? "none" : requests.c_str());
    std::string names;
    for (const std::string& name : render.columnNames())
        names += (names.empty() ? "" : ", ") + printable(name);
    for (const std::string& path : options.outputs)
        std::printf("wrote %s (%s)\n", printable(path).c_str(), names.c_str());
    if (!options.plot.empty()) std::printf("drew %s\n", printable(options.plot).c_str());
}

}  // namespace

int renderCommand(const RenderOptions& options) {
    if (options.outputs.empty() && options.plot.empty())
        throw Error("render: give at least one --out FILE or a --plot FILE");
    if (!options.plot.empty()) refuseDirectory("cannot draw", options.plot);
    if (!options.plot.empty() && !isPicturePath(options.plot))
        throw Error("cannot draw " + options.plot + ": name the picture .png or .svg");
    InterruptWatch watch;
    const ModuleLibrary library(options.library);
    const ModuleIdentity identity = readIdentity(library.entries());
    Render render(library.entries(), options);
    refuseBadOutputs(options, render);

    std::vector<std::unique_ptr<SampleWriter>> writers;
    for (const std::string& path : options.outputs)
        writers.push_back(
            openSampleWriter(path, render.columnNames(),
                             static_cast<int32_t>(std::lround(render.host().sampleRate())),
                             render.host().blockSize()));
    WriterSink sink(render.columns(), std::move(writers));
    std::unique_ptr<PendingFile> picture;
    if (!options.plot.empty()) picture = std::make_unique<PendingFile>(options.plot);
    PlotSink plotted(render.host(), render.samples(), sink);
    BlockSink& first = picture ? static_cast<BlockSink&>(plotted) : sink;
    // A module that crashes or hangs is stopped inside its call: its unfinished files go, one
    // line says what happened, and the status is a failure's (1), or the signal's for Ctrl-C.
    std::vector<std::string> unfinished = sink.temporaryPaths();
    if (picture) unfinished.push_back(picture->tempPath());
    Sandbox sandbox("render", kNoTimeLimit);
    RenderCounts counts;
    {
        ProgressBar bar(render.samples(), !options.quiet);
        sandbox.runHere(
            "render", [&] { counts = render.run(first, [&](int64_t done) { bar.update(done); }); },
            [&](const std::string&, const Verdict& verdict) {
                bar.clear();
                for (const std::string& path : unfinished) std::remove(path.c_str());
                if (verdict.kind == Verdict::Interrupted) {
                    std::fprintf(stderr, "mvmhost: %s\n", kInterruptedText);
                    return verdict.exitStatus;
                }
                std::fprintf(stderr, "mvmhost: the module crashed (%s) %s\n", verdict.crash.c_str(),
                             whereInModule(render.host()).c_str());
                return exit_status::kFailed;
            });
    }
    if (picture) {
        std::string reason;
        if (!drawPicture(picture->tempPath(), lowerExtension(options.plot) == ".svg",
                         identity.identifier + ": mvmhost render", plotted.columns(),
                         plotted.panels(), reason)) {
            stopIfInterrupted();
            throw Error("cannot draw " + options.plot + ": " + reason);
        }
    }
    stopIfInterrupted();
    sink.finish(picture ? std::vector<PendingFile*>{picture.get()} : std::vector<PendingFile*>{});

    if (options.logRequests) printRequestLog(render.host());
    // Standard output carries the samples then; a word beside them would spoil the CSV.
    const bool samplesOnStdout =
        std::any_of(options.outputs.begin(), options.outputs.end(),
                    [](const std::string& p) { return isStandardStream(p); });
    if (!options.quiet && !samplesOnStdout) printSummary(identity, render, counts, options);
    return 0;
}

}  // namespace mvmhost
