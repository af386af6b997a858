// `mvmhost demo`: the counter on a short scenario that shows all it does: counting a clock
// in 1 V steps, a reset at the default 8 V with its 3-sample impulse, a zeroing on upZERO and
// a reset level changed while it runs. Shown on the terminal, written as CSV and as a picture.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/files.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/commands/commands.h"
#include "tools/mvmhost/commands/render.h"
#include "tools/mvmhost/commands/terminal_view.h"
#include "tools/mvmhost/runtime/interrupts.h"
#include "tools/mvmhost/runtime/list_text.h"
#include "tools/mvmhost/runtime/module_library.h"
#include "tools/mvmhost/signal_io/plot.h"
#include "tools/mvmhost/signal_io/sample_writers.h"

namespace mvmhost {
namespace {

constexpr int32_t kSamples = 300;
constexpr int32_t kBlock = 64;         // small, so that changes fall inside blocks and split them
constexpr int32_t kChartColumns = 60;  // with the labels, the view fits an 80-column terminal
constexpr size_t kViewWidth = 80;
constexpr float kHigh = 0.333f;  // 3.33 V, where the counter's inputs count as high

RenderOptions scenario(const std::string& library) {
    RenderOptions o;
    o.library = library;
    o.inputs = {"upCOUNT=clock:period=16,delay=8", "upZERO=steps:0,5@190,0@200", "bySTEP=1"};
    o.lists = {"reset@=3@220"};
    o.samples = std::to_string(kSamples);
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

// What a stream state means for the signal on a plug, said of one plug or of several.
std::string stateWords(int32_t state, bool several) {
    switch (state) {
    case mv::Static:
        return several ? "hold still" : "holds still";
    case mv::SingleChange:
        return several ? "change once" : "changes once";
    case mv::Streaming:
        return several ? "stream" : "streams";
    default:
        return several ? "announce an unknown state" : "announces an unknown state";
    }
}

// Lines of at most kViewWidth characters: the first after `lead`, the rest indented as far.
void printWrapped(const std::string& lead, const std::vector<std::string>& parts) {
    std::string line = lead;
    bool first = true;
    for (const std::string& part : parts) {
        const std::string piece = (first ? "" : "; ") + part;
        if (!first && line.size() + piece.size() > kViewWidth) {
            std::printf("%s;\n", line.c_str());
            line = std::string(lead.size(), ' ') + part;
        } else {
            line += piece;
        }
        first = false;
    }
    std::printf("%s\n", line.c_str());
}

std::string fixedVolts(float units) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f V", units * 10.0);
    return text;
}

}  // namespace

int demoCommand(const DemoOptions& options) {
    InterruptWatch watch;  // Ctrl-C ends a hung gnuplot too, and leaves no file behind
    const std::string path =
        options.library.empty() ? libraryBesideProgram("COUNTreset1.mvm") : options.library;
    const ModuleLibrary library(path);
    const ModuleIdentity identity = readIdentity(library.entries());
    const RenderOptions o = scenario(path);
    Render render(library.entries(), o);
    HostedModule& host = render.host();

    std::error_code ec;
    std::filesystem::create_directories(options.outDir, ec);
    if (ec) {
        std::error_code exists;
        const std::string reason = ec == std::errc::permission_denied ? "permission denied"
                                   : std::filesystem::exists(options.outDir, exists)
                                       ? "it is a file, not a directory"
                                       : hostWords(ec.message());
        throw Error("cannot make " + options.outDir + ": " + reason);
    }
    const std::string csvPath = (std::filesystem::path(options.outDir) / "demo.csv").string();
    const std::string picture =
        (std::filesystem::path(options.outDir) / (options.svg ? "demo.svg" : "demo.png")).string();
    const std::string in = " in --out-dir " + options.outDir;
    refuseOverwrites("demo",
                     {{"demo.csv" + in, csvPath},
                      {std::string(options.svg ? "demo.svg" : "demo.png") + in, picture}},
                     {path});
    std::vector<std::unique_ptr<SampleWriter>> writers;
    writers.push_back(openSampleWriter(csvPath, render.columnNames(), 44100, kBlock));
    WriterSink files(render.columns(), std::move(writers));
    RecordingSink recorded(render.columns(), files);
    const RenderCounts counts = render.run(recorded, {});
    files.finish();

    std::map<std::string, const std::vector<float>*> signal;
    const std::vector<std::string> names = render.columnNames();
    for (size_t c = 0; c < names.size(); ++c) signal[names[c]] = &recorded.signals[c];
    const std::vector<std::string> shown = {"upCOUNT", "upZERO", "bySTEP", "OUTclimb",
                                            "RESETpulse"};
    for (const std::string& name : shown)
        if (!signal.count(name)) throw Error("demo: the module has no Signal plug named " + name);
    const HostPlug& resetAt = host.plugNamed("reset@");

    // What happened, by sample: the host's changes first, the module's answers, then the signals.
    std::multimap<std::pair<int32_t, int>, std::string> happenings;
    // The reset level in volts is the label of the chosen reset@ item.
    const PlugDescription* resetInfo = resetAt.description;
    std::string resetLabel = listLabel(resetAt, resetInfo && resetInfo->defaultValue
                                                    ? readListNumber(*resetInfo->defaultValue)
                                                    : 0);
    std::vector<double> resetLevel(kSamples, std::strtod(resetLabel.c_str(), nullptr));
    for (const ScheduledChange& c : render.changes()) {
        const std::string& plug = host.plugs()[static_cast<size_t>(c.plug)].name;
        if (c.kind == ScheduledChange::ListValue && c.plug == resetAt.index) {
            const std::string label = listLabel(resetAt, c.value);
            happenings.emplace(
                std::make_pair(c.clock, 0),
                plug + " " + resetLabel + " -> " + label + ": resets at " + label + " V now");
            std::fill(resetLevel.begin() + c.clock, resetLevel.end(),
                      std::strtod(label.c_str(), nullptr));
            resetLabel = label;
        } else if (c.kind == ScheduledChange::StreamState) {
            happenings.emplace(
                std::make_pair(c.clock, 0),
                plug + " " +
                    stateWords(c.value == mv::Streaming ? mv::Streaming : mv::SingleChange, false));
        }
    }
    std::map<int32_t, std::map<int32_t, int32_t>> announced;  // clock -> plug -> state
    for (const LoggedRequest& r : host.log())
        if (r.request == mv::hostSetOutputState)
            announced[static_cast<int32_t>(r.ptr)][r.index] = r.value;
    for (const auto& [clock, states] : announced) {
        const int32_t first = states.begin()->second;
        std::string text;
        if (std::all_of(states.begin(), states.end(),
                        [&](const auto& s) { return s.second == first; })) {
            text = "the outputs " + stateWords(first, true);
        } else {
            for (const auto& [plug, state] : states)
                text += (text.empty() ? "" : ", ") + host.plugs()[static_cast<size_t>(plug)].name +
                        " " + stateWords(state, false);
        }
        happenings.emplace(std::make_pair(clock, 1), text);
    }
    const std::vector<int32_t> edges = risingEdges(*signal["upCOUNT"]);
    const std::vector<int32_t> zeros = risingEdges(*signal["upZERO"]);
    const std::vector<int32_t> resets = risingEdges(*signal["RESETpulse"]);
    for (int32_t s : edges) happenings.emplace(std::make_pair(s, 2), "edge, one step up");
    for (int32_t s : zeros) happenings.emplace(std::make_pair(s, 2), "zero: OUTclimb drops to 0 V");
    const std::vector<float>& pulse = *signal["RESETpulse"];
    for (int32_t s : resets) {
        int32_t end = s;
        while (end + 1 < kSamples &&
               pulse[static_cast<size_t>(end) + 1] == pulse[static_cast<size_t>(s)])
            ++end;
        happenings.emplace(std::make_pair(s, 2),
                           "reset: RESETpulse " + volts(pulse[static_cast<size_t>(s)]) + " for " +
                               std::to_string(end - s + 1) + " samples");
    }

    std::printf("%s \"%s\"\nloaded from %s\n", printable(identity.identifier).c_str(),
                printable(identity.name).c_str(), printable(path).c_str());
    std::printf("%d samples in blocks of %d (%lld process calls, %lld changes delivered)\n",
                kSamples, kBlock, static_cast<long long>(counts.processCalls),
                static_cast<long long>(counts.changes));
    std::printf(
        "upCOUNT: a 5 V clock every 16 samples; bySTEP: 1 V a step;\n"
        "upZERO: 5 V from sample 190 to 199;\n"
        "reset@: 8 V (the default), then 3 V from sample 220\n\n");
    const std::vector<std::string> chart = levelChart(*signal["OUTclimb"], kChartColumns);
    for (size_t r = 0; r < chart.size(); ++r) {
        char label[48];  // room for any size_t, so no build can find it short
        std::snprintf(label, sizeof label, "%-10s%3zu V |", r == 0 ? "OUTclimb" : "",
                      chart.size() - r);
        std::string row = label + chart[r];
        while (row.back() == ' ') row.pop_back();
        std::printf("%s\n", row.c_str());
    }
    std::printf("%15s+%s\n", "", std::string(kChartColumns, '-').c_str());
    std::printf("%-15s|%s\n", "upCOUNT edges", markRow(edges, kSamples, kChartColumns).c_str());
    std::printf("%-15s|%s\n", "upZERO edges", markRow(zeros, kSamples, kChartColumns).c_str());
    std::printf("%-15s|%s\n", "resets", markRow(resets, kSamples, kChartColumns).c_str());
    std::printf("%-16s0%*d\n\n", "sample", kChartColumns - 1, kSamples - 1);

    // bySTEP stays at 1 V, so the table leaves it out and has room for what happened.
    const std::vector<std::string> tabled = {"upCOUNT", "upZERO", "OUTclimb", "RESETpulse"};
    std::printf("%6s", "sample");
    for (const std::string& name : tabled) std::printf(" %s", name.c_str());
    std::printf("  what happened\n");
    for (auto it = happenings.begin(); it != happenings.end();) {
        const int32_t sample = it->first.first;
        std::vector<std::string> what;
        for (; it != happenings.end() && it->first.first == sample; ++it)
            what.push_back(it->second);
        char lead[96];
        int n = std::snprintf(lead, sizeof lead, "%6d", sample);
        for (const std::string& name : tabled)
            n += std::snprintf(lead + n, sizeof lead - static_cast<size_t>(n), " %*s",
                               static_cast<int>(name.size()),
                               fixedVolts((*signal[name])[static_cast<size_t>(sample)]).c_str());
        printWrapped(std::string(lead) + "  ", what);
    }

    std::printf("\nwrote %s (signal units, 1.0 = 10 V)\n", printable(csvPath).c_str());
    const PlotColumns columns(kSamples);
    auto line = [&](const std::string& name) {
        PlotLine l(name, columns);
        l.add(columns, 0, signal[name]->data(), kSamples);
        return l;
    };
    PlotLine resetLine("reset@ level", columns, true);
    for (int32_t s = 0; s < kSamples; ++s)
        resetLine.addVolts(columns, s, resetLevel[static_cast<size_t>(s)]);
    const std::vector<PlotPanel> panels = {{"upCOUNT", {line("upCOUNT")}},
                                           {"upZERO", {line("upZERO")}},
                                           {"OUTclimb", {line("OUTclimb"), resetLine}},
                                           {"RESETpulse", {line("RESETpulse")}}};
    std::string reason;
    PendingFile file(picture);
    if (drawPicture(file.tempPath(), options.svg, identity.identifier + ": mvmhost demo", columns,
                    panels, reason)) {
        file.commit();
        std::printf("wrote %s\n", printable(picture).c_str());
    } else {
        stopIfInterrupted();
        std::printf("no picture: %s\n", reason.c_str());
    }
    // The command line, cut where a shell takes a backslash and a line end as a blank.
    std::vector<std::string> words = {"mvmhost render LIB"};
    for (const std::string& in : o.inputs) words.push_back("--in " + in);
    for (const std::string& set : o.lists) words.push_back("--set " + set);
    words.push_back("--samples " + std::to_string(kSamples));
    words.push_back("--block " + std::to_string(kBlock));
    words.push_back("--with-inputs --out demo.csv");
    std::string command = "the same run:\n ";
    size_t width = command.size() - 1;
    for (const std::string& word : words) {
        if (width + 1 + word.size() + 2 > kViewWidth) {
            command += " \\\n   ";
            width = 3;
        }
        command += " " + word;
        width += 1 + word.size();
    }
    std::printf("%s\n", command.c_str());
    return 0;
}

}  // namespace mvmhost
