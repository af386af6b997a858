// mvmhost: loads a module library as the real host does and runs it on signals.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/check/check.h"
#include "tools/mvmhost/commands/bench.h"
#include "tools/mvmhost/commands/commands.h"
#include "tools/mvmhost/commands/compare.h"
#include "tools/mvmhost/commands/render.h"
#include "tools/mvmhost/fuzz/fuzz.h"
#include "tools/mvmhost/runtime/interrupts.h"
#include "tools/mvmhost/signal_io/sources.h"

namespace mvmhost {
namespace {

constexpr int kLongestTimeLimit = 86400;  // a day: beyond it a check has hung, not worked
constexpr int kMostRepeats = 1000000;     // more runs than any machine finishes

int32_t parseBlockSize(const std::string& text) {
    const std::optional<uint64_t> b = parseUnsigned(text);
    if (!b || *b < 1 || *b > uint64_t{kMaxBlockSize})
        throw Error("--block " + text + ": give a whole number of samples from 1 to " +
                    std::to_string(kMaxBlockSize));
    return static_cast<int32_t>(*b);
}

// A module's plug slots past its descriptions are repeated from a RepeatLast one; a host makes
// a few hundred at most.
constexpr uint64_t kMostPlugs = 4096;
constexpr const char* kPlugsHelp =
    "the plug count the host answers (default: as many as the module describes)";

int32_t parsePlugCount(const std::string& text) {
    const std::optional<uint64_t> n = parseUnsigned(text);
    if (!n || *n > kMostPlugs)
        throw Error("--plugs " + text + ": give a whole number of plugs from 0 to " +
                    std::to_string(kMostPlugs));
    return static_cast<int32_t>(*n);
}

// Edits (a letter added, dropped or changed) from one word to another, letter case aside.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            const size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = row[j];
            row[j] = next;
        }
    }
    return row[b.size()];
}

// A first word that names no command, answered with the command it most likely meant.
std::string unknownCommand(const std::string& typed, const std::vector<CLI::App*>& commands) {
    constexpr size_t kNearEnough = 2;
    std::string names, nearest;
    size_t best = kNearEnough + 1;
    for (const CLI::App* command : commands) {
        const std::string& name = command->get_name();
        names += (names.empty() ? "" : ", ") + name;
        if (const size_t d = editDistance(typed, name); d < best) best = d, nearest = name;
    }
    if (!nearest.empty())
        return "there is no command '" + typed + "'; did you mean '" + nearest + "'?";
    return "there is no command '" + typed + "'; the commands: " + names;
}

constexpr size_t kHelpColumns = 80;  // a terminal's width

// Each line of text made to fit `width` columns, broken at blanks; a line's leading blanks
// also lead its continuations.
std::string wrapLines(const std::string& text, size_t width) {
    std::string out;
    size_t from = 0;
    while (from <= text.size()) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(from, end - from);
        const size_t indent = std::min(line.find_first_not_of(' '), line.size());
        while (line.size() > width) {
            const size_t blank = line.rfind(' ', width);
            if (blank == std::string::npos || blank <= indent) break;
            out += line.substr(0, blank) + '\n';
            line = line.substr(0, indent) + line.substr(blank + 1);
        }
        out += line;
        if (end == text.size()) break;
        out += '\n';
        from = end + 1;
    }
    return out;
}

// What an option's value is, shown in the help in place of its type.
const char* valueName(const std::string& option) {
    static const std::pair<const char*, const char*> kNames[] = {
        {"--in", "PLUG=SOURCE"},
        {"--inputs", "FILE"},
        {"--set", "PLUG=LABEL[@T]"},
        {"--event", "CLOCK:TYPE:P1:P2"},
        {"--out", "FILE"},
        {"--plot", "FILE"},
        {"--rate", "HZ"},
        {"--samples", "T"},
        {"--out-dir", "DIR"},
        {"--only", "NAME"},
        {"--include", "REGEX"},
        {"--exclude", "REGEX"},
        {"--json", "FILE"},
        {"--time-limit", "T"},
        {"--duration", "SECONDS"},
        {"--seconds", "S"},
        {"--fail-slower", "PCT"},
    };
    for (const auto& [name, value] : kNames)
        if (option == name) return value;
    return "N";
}

// Help that fits a terminal: values named for what they are, descriptions and footers wrapped.
class Help : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* opt) const override {
        if (opt->get_expected_max() == 0) return "";  // a flag
        std::string text =
            opt->get_positional() ? "" : std::string(" ") + valueName(opt->get_name());
        if (opt->get_expected_max() == CLI::detail::expected_max_vector_size) text += " ...";
        if (opt->get_required()) text += " (required)";
        return text;
    }
    std::string make_option(const CLI::Option* opt, bool positional) const override {
        return entry(make_option_name(opt, positional) + make_option_opts(opt),
                     make_option_desc(opt));
    }
    std::string make_subcommand(const CLI::App* sub) const override {
        return entry(sub->get_display_name(true), sub->get_description());
    }
    std::string make_footer(const CLI::App* app) const override {
        return app->get_footer().empty() ? "" : wrapLines(app->get_footer(), kHelpColumns) + "\n";
    }

private:
    // One line of a list: the name in its column, the description wrapped beside it.
    std::string entry(const std::string& name, const std::string& description) const {
        std::ostringstream out;
        CLI::detail::format_help(out, name,
                                 wrapLines(description, kHelpColumns - get_column_width()),
                                 get_column_width());
        return out.str();
    }
};

}  // namespace

// Parses and runs one command line (without the program name); prints a failure as one line
// on standard error and answers its exit status.
int runCommandLine(const std::vector<std::string>& args);
int runCommandLine(const std::vector<std::string>& args) {
    CLI::App app{"mvmhost: a command-line host for module libraries", "mvmhost"};
    app.formatter(std::make_shared<Help>());
    app.require_subcommand(1);
    app.set_version_flag("--version", "mvmhost " MVMHOST_VERSION, "print the version and exit");
    app.allow_windows_style_options(false);  // so /absolute/paths stay paths on Windows builds
    app.footer(
        "Exit status: 0 success, 1 a failed check or a finding (check, fuzz), 2 a usage error or a "
        "library "
        "that cannot be loaded or used.");

    std::string infoLibrary;
    CLI::App* info = app.add_subcommand("info", "Show a library's identity and plugs");
    info->add_option("LIB", infoLibrary, "module library file")->required();

    std::string plugsText;  // one command runs at a time
    RenderOptions render;
    std::string rateText, blockText, splitSeedText;
    CLI::App* renderApp =
        app.add_subcommand("render", "Run a module on signals and write its outputs");
    renderApp->add_option("LIB", render.library, "module library file")->required();
    renderApp->add_option("--in", render.inputs, "feed an input: PLUG=SOURCE (forms below)");
    renderApp->add_option("--inputs", render.inputFiles,
                          "a CSV file whose columns feed the inputs they are named after");
    renderApp->add_option(
        "--set", render.lists,
        "choose a list plug's item by label: PLUG=LABEL, or PLUG=LABEL@SAMPLE to change it then");
    renderApp->add_option(
        "--event", render.events,
        "deliver an event before a sample: CLOCK:TYPE:P1:P2, TYPE a number or DataEvent");
    CLI::Option* renderPlugs = renderApp->add_option("--plugs", plugsText, kPlugsHelp);
    renderApp->add_option("--out,-o", render.outputs, "write the outputs to FILE.csv or FILE.wav");
    renderApp->add_option("--plot", render.plot, "draw every signal to FILE.png or FILE.svg");
    renderApp->add_flag("--with-inputs", render.withInputs, "write the inputs beside the outputs");
    CLI::Option* rate = renderApp->add_option(
        "--rate", rateText, "samples per second (default: an audio input's, else 44100)");
    CLI::Option* block =
        renderApp->add_option("--block", blockText, "samples per block (default 1024)");
    renderApp->add_option(
        "--samples", render.samples,
        "length: a sample count or a time (10s, 250ms, 2:30; default: the input files' "
        "length, else one second)");
    CLI::Option* seed =
        renderApp->add_option("--split-seed", splitSeedText,
                              "cut every stretch into random process calls, repeatably for a seed");
    renderApp->add_flag("--quiet,-q", render.quiet, "print nothing on success");
    renderApp->add_flag("--log", render.logRequests,
                        "list the requests the host does not answer on stderr");
    renderApp->footer(std::string("SOURCE is one of:\n") + sourceForms() +
                      "Signal files hold signal units (1.0 = 10 V); levels typed here are volts.");

    DemoOptions demo;
    CLI::App* demoApp =
        app.add_subcommand("demo", "Show the counter at work: terminal view, CSV and picture");
    demoApp->add_option("LIB", demo.library,
                        "module library file (default: COUNTreset1.mvm beside mvmhost)");
    demoApp->add_option("--out-dir", demo.outDir,
                        "where demo.csv and the picture go (default: here)");
    demoApp->add_flag("--svg", demo.svg, "draw the picture as SVG instead of PNG");

    CheckOptions check;
    std::string checkSeedText, timeLimitText, repeatText;
    bool listOnly = false;
    CLI::App* checkApp =
        app.add_subcommand("check", "Run the host-interface checks on module libraries");
    checkApp->add_option("LIB", check.libraries, "module library files, each checked in turn");
    checkApp->add_flag("--list", listOnly,
                       "list the checks with what each makes sure of, and stop");
    checkApp->add_flag("--strict", check.strict, "add the slow and the pedantic checks");
    CLI::Option* checkSeedOption = checkApp->add_option(
        "--seed", checkSeedText, "seed of the random checks (printed on every run)");
    checkApp->add_option("--only", check.only,
                         "run only the check of this name (may be given again)");
    checkApp->add_option("--include", check.include, "run only the checks whose names match REGEX");
    checkApp->add_option("--exclude", check.exclude,
                         "leave out the checks whose names match REGEX");
    checkApp->add_flag("--only-failed", check.onlyFailed,
                       "print only the checks that did not pass");
    CLI::Option* repeat = checkApp->add_option("--repeat", repeatText,
                                               "run every library N times, each with a fresh seed");
    CLI::Option* json =
        checkApp->add_option("--json", check.json, "write the results to FILE as JSON as well");
    CLI::Option* timeLimit =
        checkApp->add_option("--time-limit", timeLimitText,
                             "seconds each check may take (default 30; 2.5, 500ms, 1:30)");
    checkApp->add_flag("--in-process", check.inProcess,
                       "run every check in this process, in order (always so on Windows)");
    checkApp->footer(
        "Exit status: 0 every check passed, 1 a check failed, 2 a library cannot be "
        "loaded or the command line is wrong, 130 interrupted.");

    FuzzOptions fuzz;
    uint64_t fuzzSeed = 0, fuzzChunks = 0, fuzzReproduce = 0;
    double fuzzDuration = 0;
    CLI::App* fuzzApp =
        app.add_subcommand("fuzz", "Drive any module library with seeded random host actions");
    fuzzApp->add_option("LIB", fuzz.library, "module library file")->required();
    CLI::Option* fuzzSeedOption = fuzzApp->add_option(
        "--seed", fuzzSeed, "the first chunk's seed; chunk N runs seed N (printed on every run)");
    CLI::Option* fuzzChunksOption =
        fuzzApp->add_option("--chunks", fuzzChunks,
                            "how many chunks (default " + std::to_string(kDefaultChunks) +
                                ", or as many as --duration allows)");
    CLI::Option* fuzzDurationOption =
        fuzzApp->add_option("--duration", fuzzDuration, "start no chunk after this many seconds");
    fuzzApp->add_option("--jobs", fuzz.jobs,
                        "chunks running at once, each in a process of its own (default 1)");
    CLI::Option* fuzzReproduceOption = fuzzApp->add_option(
        "--reproduce", fuzzReproduce, "replay chunk N in this process, for a debugger");
    CLI::Option* fuzzPlugs = fuzzApp->add_option("--plugs", plugsText, kPlugsHelp);
    fuzzApp->add_flag("--strict", fuzz.strict, "also do what a host does not promise");
    fuzzApp->add_flag("--verbose", fuzz.verbose, "with --reproduce: print every action as it runs");
    fuzzApp->footer(
        "Exit status: 0 nothing found, 1 a finding, 2 the library cannot be loaded or the command "
        "line is wrong, 130 interrupted.");

    CompareOptions compare;
    std::string compareSeedText, compareSamplesText, compareBlockText;
    CLI::App* compareApp = app.add_subcommand(
        "compare", "Run two module libraries on the same seeded session and compare them");
    compareApp->add_option("A", compare.first, "module library file")->required();
    compareApp->add_option("B", compare.second, "module library file")->required();
    CLI::Option* compareSeedOption = compareApp->add_option(
        "--seed", compareSeedText, "seed of the inputs, states and splits (printed on every run)");
    CLI::Option* compareSamplesOption = compareApp->add_option(
        "--samples", compareSamplesText,
        "samples to run (default " + std::to_string(kDefaultCompareSamples) + ")");
    CLI::Option* compareBlockOption =
        compareApp->add_option("--block", compareBlockText, "samples per block (default 1024)");
    CLI::Option* comparePlugs = compareApp->add_option("--plugs", plugsText, kPlugsHelp);
    compareApp->footer(
        "Exit status: 0 identical, 1 different (the first difference is printed), 2 the libraries "
        "cannot be loaded or compared, or the command line is wrong.");

    BenchArgs bench;
    CLI::App* benchApp = app.add_subcommand(
        "bench", "Time a module's process routine per sample; with B, paired against A");
    benchApp->add_option("A", bench.first, "module library file")->required();
    benchApp->add_option("B", bench.second, "a second library, timed in turns with A");
    benchApp
        ->add_option("--block", bench.blocks,
                     "samples per block, may be given again "
                     "(default 16, 64 and 1024)")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    benchApp->add_option("--seconds", bench.seconds, "time spent timing in all (default 3)");
    benchApp->add_option("--json", bench.json, "write the figures to FILE as JSON as well");
    benchApp->add_option("--fail-slower", bench.failSlower,
                         "exit 1 when B is slower than A by more than PCT percent anywhere");
    CLI::Option* benchPlugs = benchApp->add_option("--plugs", plugsText, kPlugsHelp);
    benchApp->footer(
        "Inputs: silence, held (5 V), clock (64 samples), noise. Exit status: 0 done, 1 B slower "
        "than --fail-slower allows, 2 the libraries cannot be loaded or paired, or the command "
        "line is wrong.");

    std::string batchFile;
    CLI::App* batch =
        app.add_subcommand("batch", "Run the command lines of a file in this one process");
    batch->add_option("FILE", batchFile, "one command line per line; # starts a comment")
        ->required();

    const std::vector<CLI::App*> commands = app.get_subcommands({});
    if (!args.empty() && !args[0].empty() && args[0][0] != '-' &&
        std::none_of(commands.begin(), commands.end(),
                     [&](CLI::App* c) { return c->get_name() == args[0]; }))
        return failWith(unknownCommand(args[0], commands));
    std::vector<const char*> argv{"mvmhost"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help
        return failWith(e.what());
    }

    try {
        if (*info) return infoCommand(infoLibrary);
        if (*renderApp) {
            if (seed->count() > 0)
                render.splitSeed = parseSeed("--split-seed " + splitSeedText, splitSeedText);
            if (rate->count() > 0) {
                const std::optional<double> r = parseNumber(rateText);
                if (!r || !(*r > 0))  // 0 would mean "not given"
                    throw Error("--rate " + rateText +
                                ": give a positive number of samples per second");
                if (*r > kMaxSampleRate)
                    throw Error("--rate " + rateText + ": at most " +
                                std::to_string(kMaxSampleRate) + " samples per second");
                render.sampleRate = *r;
            }
            if (block->count() > 0) render.blockSize = parseBlockSize(blockText);
            if (renderPlugs->count() > 0) render.plugCount = parsePlugCount(plugsText);
            return renderCommand(render);
        }
        if (*demoApp) return demoCommand(demo);
        if (*checkApp) {
            if (listOnly) {
                listChecks(std::cout);
                return 0;
            }
            if (check.libraries.empty()) throw Error("check needs a module library (or --list)");
            if (checkSeedOption->count() > 0)
                check.seed = parseSeed("--seed " + checkSeedText, checkSeedText);
            if (json->count() > 0 && check.json.empty()) throw Error("--json needs a file name");
            if (timeLimit->count() > 0) {
                const std::optional<double> t = parseSeconds(timeLimitText);
                if (!t || !(*t > 0))
                    throw Error("--time-limit " + timeLimitText +
                                ": give a positive number of seconds");
                if (*t > kLongestTimeLimit)
                    throw Error("--time-limit " + timeLimitText + ": at most " +
                                std::to_string(kLongestTimeLimit) + " s (a day)");
                check.timeLimit = *t;
            }
            if (repeat->count() > 0) {
                const std::optional<uint64_t> n = parseUnsigned(repeatText);
                if (!n || *n < 1 || *n > uint64_t{kMostRepeats})
                    throw Error("--repeat " + repeatText +
                                ": give a whole number of runs from 1 to " +
                                std::to_string(kMostRepeats));
                check.repeat = static_cast<int>(*n);
            }
            return checkCommand(check);
        }
        if (*fuzzApp) {
            if (fuzzSeedOption->count() > 0) fuzz.seed = fuzzSeed;
            if (fuzzChunksOption->count() > 0) fuzz.chunks = fuzzChunks;
            if (fuzzDurationOption->count() > 0) fuzz.duration = fuzzDuration;
            if (fuzzReproduceOption->count() > 0) fuzz.reproduce = fuzzReproduce;
            if (fuzzPlugs->count() > 0) fuzz.plugCount = parsePlugCount(plugsText);
            return fuzzCommand(fuzz);
        }
        if (*compareApp) {
            if (compareSeedOption->count() > 0)
                compare.seed = parseSeed("--seed " + compareSeedText, compareSeedText);
            if (compareSamplesOption->count() > 0) {
                const std::optional<uint64_t> n = parseUnsigned(compareSamplesText);
                if (!n || *n < 1 || *n > uint64_t{INT32_MAX})
                    throw Error("--samples " + compareSamplesText +
                                ": give a whole number of samples from 1 to " +
                                std::to_string(INT32_MAX));
                compare.samples = static_cast<int64_t>(*n);
            }
            if (compareBlockOption->count() > 0)
                compare.blockSize = parseBlockSize(compareBlockText);
            if (comparePlugs->count() > 0) compare.plugCount = parsePlugCount(plugsText);
            return compareCommand(compare);
        }
        if (*benchApp) {
            if (benchPlugs->count() > 0) bench.plugCount = parsePlugCount(plugsText);
            return benchCommand(bench);
        }
        if (*batch) return batchCommand(batchFile, runCommandLine);
    } catch (const Error& error) {
        if (!error.interruption()) return failWith(error.what());
        std::fprintf(stderr, "mvmhost: interrupted; unfinished files removed\n");
        return error.exitStatus();
    } catch (const std::bad_alloc&) {
        return failWith("out of memory");
    } catch (const std::exception& e) {
        return failWith(e.what());
    }
    return failWith("no such command");
}

}  // namespace mvmhost

int main(int argc, char** argv) {
    return mvmhost::runCommandLine(std::vector<std::string>(argv + 1, argv + argc));
}
