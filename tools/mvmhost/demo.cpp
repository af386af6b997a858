// `mvmhost demo`: the counter on a short scenario that shows all it does: counting a clock
// in 1 V steps, a reset at the default 8 V with its 3-sample impulse, a zeroing on upZERO and
// a reset level changed while it runs. Shown on the terminal, written as CSV and as a picture.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "tools/mvmhost/commands.h"
#include "tools/mvmhost/failure.h"
#include "tools/mvmhost/list_text.h"
#include "tools/mvmhost/module_library.h"
#include "tools/mvmhost/plot.h"
#include "tools/mvmhost/render.h"
#include "tools/mvmhost/sample_writers.h"
#include "tools/mvmhost/terminal_view.h"

namespace mvmhost {
namespace {

constexpr int32_t kSamples = 300;
constexpr int32_t kBlock = 64;  // small, so that changes fall inside blocks and split them
constexpr int32_t kChartColumns = 75;
constexpr float kHigh = 0.333f;  // 3.33 V, where the counter's inputs count as high

RenderOptions scenario(const std::string& library) {
    RenderOptions o;
    o.library = library;
    o.inputs = {"upCOUNT=clock:period=16,delay=8", "upZERO=steps:0,5@190,0@200", "bySTEP=1"};
    o.lists = {"reset@=3@220"};
    o.samples = kSamples;
    o.blockSize = kBlock;
    o.withInputs = true;
    return o;
}

// Keeps every block of the given plugs, and passes it on.
class RecordingSink : public BlockSink {
public:
    RecordingSink(const std::vector<int32_t>& plugs, BlockSink& next) : plugs_(plugs), next_(next) {
        signals.resize(plugs.size());
        for (auto& s : signals) s.reserve(kSamples);
    }
    void take(const HostedModule& host, int32_t first, int32_t count) override {
        for (size_t c = 0; c < plugs_.size(); ++c) {
            const float* b = host.buffer(plugs_[c]);
            signals[c].insert(signals[c].end(), b, b + count);
        }
        next_.take(host, first, count);
    }
    std::vector<std::vector<float>> signals;

private:
    std::vector<int32_t> plugs_;
    BlockSink& next_;
};

std::vector<int32_t> risingEdges(const std::vector<float>& units) {
    std::vector<int32_t> edges;
    for (size_t i = 1; i < units.size(); ++i)
        if (units[i] >= kHigh && !(units[i - 1] >= kHigh)) edges.push_back(static_cast<int32_t>(i));
    return edges;
}

const char* stateName(int32_t state) {
    switch (state) {
    case mv::Static: return "Static";
    case mv::SingleChange: return "SingleChange";
    case mv::Streaming: return "Streaming";
    default: return "an unknown state";
    }
}

std::string fixedVolts(float units) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f V", units * 10.0);
    return text;
}

}  // namespace

int demoCommand(const DemoOptions& options) {
    const std::string path = options.library.empty() ? libraryBesideProgram("COUNTreset1.mvm")
                                                     : options.library;
    const ModuleLibrary library(path);
    const ModuleIdentity identity = readIdentity(library.entries());
    const RenderOptions o = scenario(path);
    Render render(library.entries(), o);
    HostedModule& host = render.host();

    std::error_code ec;
    std::filesystem::create_directories(options.outDir, ec);
    const std::string csvPath = (std::filesystem::path(options.outDir) / "demo.csv").string();
    std::vector<std::unique_ptr<SampleWriter>> writers;
    writers.push_back(openSampleWriter(csvPath, render.columnNames(), 44100, kBlock));
    WriterSink files(render.columns(), std::move(writers));
    RecordingSink recorded(render.columns(), files);
    const RenderCounts counts = render.run(recorded, {});
    files.finish();

    std::map<std::string, const std::vector<float>*> signal;
    const std::vector<std::string> names = render.columnNames();
    for (size_t c = 0; c < names.size(); ++c) signal[names[c]] = &recorded.signals[c];
    const std::vector<std::string> shown = {"upCOUNT", "upZERO", "bySTEP", "OUTclimb", "RESETpulse"};
    for (const std::string& name : shown)
        if (!signal.count(name)) throw Failure("demo: the module has no Signal plug named " + name);
    const HostPlug& resetAt = host.plugNamed("reset@");

    // What happened, by sample: the host's changes first, the module's answers, then the signals.
    std::multimap<std::pair<int32_t, int>, std::string> happenings;
    // The reset level in volts is the label of the chosen reset@ item.
    const PlugDescription* resetInfo = resetAt.description;
    std::string resetLabel = listLabel(resetAt, resetInfo && resetInfo->defaultValue
                                                    ? readListNumber(*resetInfo->defaultValue) : 0);
    std::vector<double> resetLevel(kSamples, std::strtod(resetLabel.c_str(), nullptr));
    for (const ScheduledChange& c : render.changes()) {
        const std::string& plug = host.plugs()[static_cast<size_t>(c.plug)].name;
        if (c.kind == ScheduledChange::ListValue && c.plug == resetAt.index) {
            const std::string label = listLabel(resetAt, c.value);
            happenings.emplace(std::make_pair(c.clock, 0), plug + " " + resetLabel + " -> " + label);
            std::fill(resetLevel.begin() + c.clock, resetLevel.end(), std::strtod(label.c_str(), nullptr));
            resetLabel = label;
        } else if (c.kind == ScheduledChange::StreamState) {
            happenings.emplace(std::make_pair(c.clock, 0),
                               plug + (c.value == mv::Streaming ? " streams" : " changes"));
        }
    }
    std::map<int32_t, std::map<int32_t, int32_t>> announced;  // clock -> plug -> state
    for (const LoggedRequest& r : host.log())
        if (r.request == mv::hostSetOutputState) announced[static_cast<int32_t>(r.ptr)][r.index] = r.value;
    for (const auto& [clock, states] : announced) {
        const int32_t first = states.begin()->second;
        std::string text;
        if (std::all_of(states.begin(), states.end(), [&](const auto& s) { return s.second == first; })) {
            text = std::string("outputs ") + stateName(first);
        } else {
            for (const auto& [plug, state] : states)
                text += (text.empty() ? "" : ", ") + host.plugs()[static_cast<size_t>(plug)].name + " " +
                        stateName(state);
        }
        happenings.emplace(std::make_pair(clock, 1), text);
    }
    const std::vector<int32_t> edges = risingEdges(*signal["upCOUNT"]);
    const std::vector<int32_t> zeros = risingEdges(*signal["upZERO"]);
    const std::vector<int32_t> resets = risingEdges(*signal["RESETpulse"]);
    for (int32_t s : edges) happenings.emplace(std::make_pair(s, 2), "edge");
    for (int32_t s : zeros) happenings.emplace(std::make_pair(s, 2), "zero");
    const std::vector<float>& pulse = *signal["RESETpulse"];
    for (int32_t s : resets) {
        int32_t end = s;
        while (end + 1 < kSamples && pulse[static_cast<size_t>(end) + 1] == pulse[static_cast<size_t>(s)]) ++end;
        happenings.emplace(std::make_pair(s, 2),
                           "reset, RESETpulse " + volts(pulse[static_cast<size_t>(s)]) + " for " +
                               std::to_string(end - s + 1) + " samples (" + std::to_string(s) + "-" +
                               std::to_string(end) + ")");
    }

    std::printf("%s \"%s\" from %s\n", identity.identifier.c_str(), identity.name.c_str(), path.c_str());
    std::printf("%d samples in blocks of %d (%lld process calls, %lld changes delivered)\n", kSamples,
                kBlock, static_cast<long long>(counts.processCalls), static_cast<long long>(counts.changes));
    std::printf("upCOUNT: a 5 V clock every 16 samples; bySTEP: 1 V; upZERO: 5 V from sample 190 to 199;\n"
                "reset@: 8 (the default), then 3 from sample 220\n\n");
    const std::vector<std::string> chart = levelChart(*signal["OUTclimb"], kChartColumns);
    for (size_t r = 0; r < chart.size(); ++r) {
        char label[48];  // room for any size_t, so no build can find it short
        std::snprintf(label, sizeof label, "%-10s%3zu V |", r == 0 ? "OUTclimb" : "", chart.size() - r);
        std::string row = label + chart[r];
        while (row.back() == ' ') row.pop_back();
        std::printf("%s\n", row.c_str());
    }
    std::printf("%15s+%s\n", "", std::string(kChartColumns, '-').c_str());
    std::printf("%-15s|%s\n", "upCOUNT edges", markRow(edges, kSamples, kChartColumns).c_str());
    std::printf("%-15s|%s\n", "upZERO edges", markRow(zeros, kSamples, kChartColumns).c_str());
    std::printf("%-15s|%s\n", "resets", markRow(resets, kSamples, kChartColumns).c_str());
    std::printf("%-16s0%*d\n\n", "sample", kChartColumns - 1, kSamples - 1);

    std::printf("%6s", "sample");
    for (const std::string& name : shown) std::printf(" %10s", name.c_str());
    std::printf("  what happened\n");
    for (auto it = happenings.begin(); it != happenings.end();) {
        const int32_t sample = it->first.first;
        std::string what;
        for (; it != happenings.end() && it->first.first == sample; ++it)
            what += (what.empty() ? "" : "; ") + it->second;
        std::printf("%6d", sample);
        for (const std::string& name : shown)
            std::printf(" %10s", fixedVolts((*signal[name])[static_cast<size_t>(sample)]).c_str());
        std::printf("  %s\n", what.c_str());
    }

    std::printf("\nwrote %s (signal units, 1.0 = 10 V)\n", csvPath.c_str());
    std::vector<PlotPanel> panels;
    auto inVolts = [](const std::vector<float>& units) {
        std::vector<double> v;
        for (float u : units) v.push_back(u * 10.0);
        return v;
    };
    panels.push_back({"upCOUNT", {{"upCOUNT", inVolts(*signal["upCOUNT"]), false}}});
    panels.push_back({"upZERO", {{"upZERO", inVolts(*signal["upZERO"]), false}}});
    panels.push_back({"OUTclimb", {{"OUTclimb", inVolts(*signal["OUTclimb"]), false},
                                   {"reset@ level", resetLevel, true}}});
    panels.push_back({"RESETpulse", {{"RESETpulse", inVolts(*signal["RESETpulse"]), false}}});
    const std::string picture =
        (std::filesystem::path(options.outDir) / (options.svg ? "demo.svg" : "demo.png")).string();
    std::string reason;
    if (drawPicture(picture, identity.identifier + ": mvmhost demo", panels, reason))
        std::printf("wrote %s\n", picture.c_str());
    else
        std::printf("no picture: %s\n", reason.c_str());
    std::printf("the same run: mvmhost render LIB");
    for (const std::string& in : o.inputs) std::printf(" --in %s", in.c_str());
    for (const std::string& set : o.lists) std::printf(" --set %s", set.c_str());
    std::printf(" --samples %d --block %d --with-inputs --out demo.csv\n", kSamples, kBlock);
    return 0;
}

}  // namespace mvmhost
