// mvmhost: loads a module library as the real host does and runs it on signals.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
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
#include "tools/mvmhost/runtime/signal_source.h"
#include "tools/mvmhost/signal_io/sources.h"

namespace mvmhost {

// Parses and runs one command line (without the program name); prints a failure as one line
// on standard error and answers its exit status.
int runCommandLine(const std::vector<std::string>& args);

namespace {

constexpr int kLongestTimeLimit = 86400;  // a day: beyond it a check has hung, not worked
constexpr int kMostRepeats = 1000000;     // more runs than any machine finishes
constexpr int kMostJobs = 1024;           // processes at once, beyond any machine's cores

int32_t parseBlockSize(const std::string& text) {
    return static_cast<int32_t>(parseCount("--block", text, "samples", 1, kMaxBlockSize));
}

// A module's plug slots past its descriptions are repeated from a RepeatLast one; a host makes
// a few hundred at most.
constexpr uint64_t kMostPlugs = 4096;
constexpr const char* kPlugsHelp =
    "the plug count the host answers (default: as many as the module describes)";

int32_t parsePlugCount(const std::string& text) {
    return static_cast<int32_t>(parseCount("--plugs", text, "plugs", 0, kMostPlugs));
}

double parseRate(const std::string& text) {
    const std::optional<double> r = parseNumber(text);
    if (!r || !(*r > 0))  // 0 would mean "not given"
        throw Error("--rate " + text + ": give a positive number of samples per second");
    if (*r > kMaxSampleRate)
        throw Error("--rate " + text + ": at most " + std::to_string(kMaxSampleRate) +
                    " samples per second");
    return *r;
}

double parseTimeLimit(const std::string& text) {
    const std::optional<double> t = parseSeconds(text);
    if (!t || !(*t > 0))
        throw Error("--time-limit " + text + ": give a positive number of seconds");
    if (*t > kLongestTimeLimit)
        throw Error("--time-limit " + text + ": at most " + std::to_string(kLongestTimeLimit) +
                    " s (a day)");
    return *t;
}

int parseRepeat(const std::string& text) {
    return static_cast<int>(parseCount("--repeat", text, "runs", 1, kMostRepeats));
}

// A length as render takes it, a sample count or a time, counted at the host's default rate.
int64_t parseCompareSamples(const std::string& text) {
    const std::optional<SampleTime> length = SampleTime::parse(text);
    const int64_t n = length ? length->at(kDefaultSampleRate) : 0;
    if (!length || n < 1 || n > INT32_MAX)
        throw Error("--samples " + text + ": give " + kSampleTimeForms + ", from 1 to " +
                    std::to_string(INT32_MAX) + " samples at " +
                    std::to_string(static_cast<int>(kDefaultSampleRate)) + " Hz");
    return n;
}

// Chunks run seeds --seed, --seed + 1 and on, the last below 2^64 - 1: a run asked for more
// is refused rather than cut short.
void checkChunkSeeds(const FuzzOptions& options) {
    if (options.seed && options.chunks && *options.chunks > UINT64_MAX - *options.seed)
        throw Error("--seed " + std::to_string(*options.seed) + " --chunks " +
                    std::to_string(*options.chunks) + ": the seeds run out after " +
                    std::to_string(UINT64_MAX - *options.seed) + " chunks from that seed");
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

// What the option parser found wrong, in this host's words: its own texts ("At Most 1 required
// but received 2", "A subcommand is required") name its inner workings, not the line typed.
std::string parseFailure(const CLI::ParseError& error, const std::vector<std::string>& args) {
    const std::string text = error.what(), name = error.get_name();
    const std::string command = args.empty() || args[0].empty() || args[0][0] == '-' ? "" : args[0];
    const size_t colon = text.find(':');
    const std::string option = colon == std::string::npos ? "" : text.substr(0, colon);
    if (name == "ArgumentMismatch" && text.find("At Most") != std::string::npos)
        return option + " is given more than once; give it once";
    if (name == "ArgumentMismatch" && text.find("missing") != std::string::npos)
        return option + " needs a value after it";
    if (name == "RequiredError" && command.empty()) {
        if (args.empty()) return "give a command; mvmhost --help lists them";
        std::string near;
        for (const char* flag : {"--help", "--version"})
            if (editDistance(args[0], flag) <= 2) near = flag;
        return "there is no option '" + args[0] + "' before a command" +
               (near.empty() ? "; mvmhost --help lists the commands"
                             : "; did you mean " + near + "?");
    }
    if (name == "RequiredError" && text.size() > 12 &&
        text.substr(text.size() - 12) == " is required")
        return command + " needs " + text.substr(0, text.size() - 12) + "; mvmhost " + command +
               " --help shows its form";
    if (text.rfind("The following argument", 0) == 0) {
        const std::string extra = colon == std::string::npos ? "" : text.substr(colon + 2);
        return command + " does not take '" + extra + "'; mvmhost " + command +
               " --help shows what it takes";
    }
    if (name == "ConversionError" || name == "ValidationError")
        return (option.empty() ? text : option) + ": not a value it takes; mvmhost " + command +
               " --help shows its form";
    return text;
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

// A command's options, declared on the app and kept as typed: they are checked only once the
// line has chosen that command, so another command's defaults never fail a line.
class Subcommand {
public:
    virtual ~Subcommand() = default;
    virtual void declare(CLI::App& app) = 0;
    virtual int run() = 0;
    bool chosen() const { return app_ != nullptr && static_cast<bool>(*app_); }

protected:
    CLI::App* app_ = nullptr;
};

class InfoSubcommand : public Subcommand {
public:
    void declare(CLI::App& app) override {
        app_ = app.add_subcommand("info", "Show a library's identity and plugs");
        app_->add_option("LIB", library_, "module library file")->required();
    }
    int run() override { return infoCommand(library_); }

private:
    std::string library_;
};

class RenderSubcommand : public Subcommand {
public:
    void declare(CLI::App& app) override {
        app_ = app.add_subcommand("render", "Run a module on signals and write its outputs");
        app_->add_option("LIB", options_.library, "module library file")->required();
        app_->add_option("--in", options_.inputs, "feed an input: PLUG=SOURCE (forms below)");
        app_->add_option("--inputs", options_.inputFiles,
                         "a CSV file whose columns feed the inputs they are named after");
        app_->add_option("--set", options_.lists,
                         "choose a list plug's item by label: PLUG=LABEL, or PLUG=LABEL@SAMPLE to "
                         "change it then");
        app_->add_option(
            "--event", options_.events,
            "deliver an event before a sample: CLOCK:TYPE:P1:P2, TYPE a number or DataEvent");
        plugs_ = app_->add_option("--plugs", plugsText_, kPlugsHelp);
        app_->add_option("--out,-o", options_.outputs, "write the outputs to FILE.csv or FILE.wav");
        app_->add_option("--plot", options_.plot, "draw every signal to FILE.png or FILE.svg");
        app_->add_flag("--with-inputs", options_.withInputs, "write the inputs beside the outputs");
        rate_ = app_->add_option("--rate", rateText_,
                                 "samples per second (default: an audio input's, else 44100)");
        block_ = app_->add_option("--block", blockText_, "samples per block (default 1024)");
        samples_ = app_->add_option(
            "--samples", options_.samples,
            "length: a sample count or a time (10s, 250ms, 2:30; default: the input "
            "files' length, else one second)");
        splitSeed_ =
            app_->add_option("--split-seed", splitSeedText_,
                             "cut every stretch into random process calls, repeatably for a seed");
        app_->add_flag("--quiet,-q", options_.quiet, "print nothing on success");
        app_->add_flag("--log", options_.logRequests,
                       "list the requests the host does not answer on stderr");
        app_->footer(std::string("SOURCE is one of:\n") + sourceForms() +
                     "Signal files hold signal units (1.0 = 10 V); levels typed here are volts.");
    }
    int run() override {
        if (splitSeed_->count() > 0)
            options_.splitSeed = parseSeed("--split-seed " + splitSeedText_, splitSeedText_);
        if (rate_->count() > 0) options_.sampleRate = parseRate(rateText_);
        if (block_->count() > 0) options_.blockSize = parseBlockSize(blockText_);
        if (plugs_->count() > 0) options_.plugCount = parsePlugCount(plugsText_);
        // Left empty, the length would quietly fall back to its default.
        if (samples_->count() > 0 && options_.samples.empty())
            throw Error(std::string("--samples: give ") + kSampleTimeForms);
        return renderCommand(options_);
    }

private:
    RenderOptions options_;
    std::string plugsText_, rateText_, blockText_, splitSeedText_;
    CLI::Option *plugs_ = nullptr, *rate_ = nullptr, *block_ = nullptr, *splitSeed_ = nullptr,
                *samples_ = nullptr;
};

class DemoSubcommand : public Subcommand {
public:
    void declare(CLI::App& app) override {
        app_ =
            app.add_subcommand("demo", "Show the counter at work: terminal view, CSV and picture");
        app_->add_option("LIB", options_.library,
                         "module library file (default: COUNTreset1.mvm beside mvmhost)");
        app_->add_option("--out-dir", options_.outDir,
                         "where demo.csv and the picture go (default: here)");
        app_->add_flag("--svg", options_.svg, "draw the picture as SVG instead of PNG");
    }
    int run() override { return demoCommand(options_); }

private:
    DemoOptions options_;
};

class CheckSubcommand : public Subcommand {
public:
    void declare(CLI::App& app) override {
        app_ = app.add_subcommand("check", "Run the host-interface checks on module libraries");
        app_->add_option("LIB", options_.libraries, "module library files, each checked in turn");
        app_->add_flag("--list", listOnly_,
                       "list the checks with what each makes sure of, and stop");
        app_->add_flag("--strict", options_.strict, "add the slow and the pedantic checks");
        seed_ = app_->add_option("--seed", seedText_,
                                 "seed of the random checks (printed on every run)");
        app_->add_option("--only", options_.only,
                         "run only the check of this name (may be given again)");
        app_->add_option("--include", options_.include,
                         "run only the checks whose names match REGEX");
        app_->add_option("--exclude", options_.exclude,
                         "leave out the checks whose names match REGEX");
        app_->add_flag("--only-failed", options_.onlyFailed,
                       "print only the checks that did not pass");
        repeat_ = app_->add_option("--repeat", repeatText_,
                                   "run every library N times, each with a fresh seed");
        json_ =
            app_->add_option("--json", options_.json, "write the results to FILE as JSON as well");
        timeLimit_ = app_->add_option("--time-limit", timeLimitText_,
                                      "seconds each check may take (default 30; 2.5, 500ms, 1:30)");
        app_->add_flag("--in-process", options_.inProcess,
                       "run every check in this process, in order (always so on Windows)");
        app_->footer(
            "Exit status: 0 every check passed, 1 a check failed, 2 a library cannot be "
            "loaded or the command line is wrong, 130 interrupted.");
    }
    int run() override {
        if (listOnly_) {
            listChecks(std::cout);
            return 0;
        }
        if (options_.libraries.empty()) throw Error("check needs a module library (or --list)");
        if (seed_->count() > 0) options_.seed = parseSeed("--seed " + seedText_, seedText_);
        if (json_->count() > 0 && options_.json.empty()) throw Error("--json needs a file name");
        if (timeLimit_->count() > 0) options_.timeLimit = parseTimeLimit(timeLimitText_);
        if (repeat_->count() > 0) options_.repeat = parseRepeat(repeatText_);
        return checkCommand(options_);
    }

private:
    CheckOptions options_;
    std::string seedText_, timeLimitText_, repeatText_;
    bool listOnly_ = false;
    CLI::Option *seed_ = nullptr, *repeat_ = nullptr, *json_ = nullptr, *timeLimit_ = nullptr;
};

class FuzzSubcommand : public Subcommand {
public:
    void declare(CLI::App& app) override {
        app_ =
            app.add_subcommand("fuzz", "Drive any module library with seeded random host actions");
        app_->add_option("LIB", options_.library, "module library file")->required();
        seed_ =
            app_->add_option("--seed", seedText_,
                             "the first chunk's seed; chunk N runs seed N (printed on every run)");
        chunks_ = app_->add_option("--chunks", chunksText_,
                                   "how many chunks (default " + std::to_string(kDefaultChunks) +
                                       ", or as many as --duration allows)");
        duration_ =
            app_->add_option("--duration", durationText_, "start no chunk after this many seconds");
        jobs_ =
            app_->add_option("--jobs", jobsText_,
                             "chunks running at once, each in a process of its own (default 1)");
        reproduce_ = app_->add_option("--reproduce", reproduceText_,
                                      "replay chunk N in this process, for a debugger");
        plugs_ = app_->add_option("--plugs", plugsText_, kPlugsHelp);
        app_->add_flag("--strict", options_.strict, "also do what a host does not promise");
        app_->add_flag("--verbose", options_.verbose,
                       "with --reproduce: print every action as it runs");
        app_->footer(
            "Exit status: 0 nothing found, 1 a finding, 2 the library cannot be loaded "
            "or the command line is wrong, 130 interrupted.");
    }
    int run() override {
        if (seed_->count() > 0) options_.seed = parseSeed("--seed " + seedText_, seedText_);
        if (chunks_->count() > 0)
            options_.chunks = parseCount("--chunks", chunksText_, "chunks", 1, UINT64_MAX);
        checkChunkSeeds(options_);
        if (duration_->count() > 0) {
            const std::optional<double> t = parseSeconds(durationText_);
            if (!t || !(*t > 0))
                throw Error("--duration " + durationText_ + ": give a positive number of seconds");
            options_.duration = *t;
        }
        if (jobs_->count() > 0)
            options_.jobs = static_cast<int>(parseCount("--jobs", jobsText_, "jobs", 1, kMostJobs));
        if (reproduce_->count() > 0)
            options_.reproduce =
                parseCount("--reproduce", reproduceText_, "a chunk", 0, UINT64_MAX);
        if (plugs_->count() > 0) options_.plugCount = parsePlugCount(plugsText_);
        return fuzzCommand(options_);
    }

private:
    FuzzOptions options_;
    std::string seedText_, chunksText_, durationText_, jobsText_, reproduceText_, plugsText_;
    CLI::Option *seed_ = nullptr, *chunks_ = nullptr, *duration_ = nullptr, *jobs_ = nullptr,
                *reproduce_ = nullptr, *plugs_ = nullptr;
};

class CompareSubcommand : public Subcommand {
public:
    void declare(CLI::App& app) override {
        app_ = app.add_subcommand(
            "compare", "Run two module libraries on the same seeded session and compare them");
        app_->add_option("A", options_.first, "module library file")->required();
        app_->add_option("B", options_.second, "module library file")->required();
        seed_ = app_->add_option("--seed", seedText_,
                                 "seed of the inputs, states and splits (printed on every run)");
        samples_ =
            app_->add_option("--samples", samplesText_,
                             "length: a sample count or a time at 44100 Hz (10s, 250ms; default " +
                                 std::to_string(kDefaultCompareSamples) + " samples)");
        block_ = app_->add_option("--block", blockText_, "samples per block (default 1024)");
        plugs_ = app_->add_option("--plugs", plugsText_, kPlugsHelp);
        app_->footer(
            "Exit status: 0 identical, 1 different (the first difference is printed), 2 the "
            "libraries cannot be loaded or compared, or the command line is wrong.");
    }
    int run() override {
        if (seed_->count() > 0) options_.seed = parseSeed("--seed " + seedText_, seedText_);
        if (samples_->count() > 0) options_.samples = parseCompareSamples(samplesText_);
        if (block_->count() > 0) options_.blockSize = parseBlockSize(blockText_);
        if (plugs_->count() > 0) options_.plugCount = parsePlugCount(plugsText_);
        return compareCommand(options_);
    }

private:
    CompareOptions options_;
    std::string seedText_, samplesText_, blockText_, plugsText_;
    CLI::Option *seed_ = nullptr, *samples_ = nullptr, *block_ = nullptr, *plugs_ = nullptr;
};

class BenchSubcommand : public Subcommand {
public:
    void declare(CLI::App& app) override {
        app_ = app.add_subcommand(
            "bench", "Time a module's process routine per sample; with B, paired against A");
        app_->add_option("A", args_.first, "module library file")->required();
        app_->add_option("B", args_.second, "a second library, timed in turns with A");
        app_->add_option("--block", args_.blocks,
                         "samples per block, may be given again (default 16, 64 and 1024)")
            ->expected(1)
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        app_->add_option("--seconds", args_.seconds, "time spent timing in all (default 3)");
        app_->add_option("--json", args_.json, "write the figures to FILE as JSON as well");
        app_->add_option("--fail-slower", args_.failSlower,
                         "exit 1 when B is slower than A by more than PCT percent anywhere");
        plugs_ = app_->add_option("--plugs", plugsText_, kPlugsHelp);
        app_->footer(
            "Inputs: silence, held (5 V), clock (64 samples), noise. Exit status: 0 done, 1 B "
            "slower than --fail-slower allows, 2 the libraries cannot be loaded or paired, or the "
            "command line is wrong.");
    }
    int run() override {
        if (plugs_->count() > 0) args_.plugCount = parsePlugCount(plugsText_);
        return benchCommand(args_);
    }

private:
    BenchArgs args_;
    std::string plugsText_;
    CLI::Option* plugs_ = nullptr;
};

class BatchSubcommand : public Subcommand {
public:
    void declare(CLI::App& app) override {
        app_ = app.add_subcommand("batch", "Run the command lines of a file in this one process");
        app_->add_option("FILE", file_, "one command line per line; # starts a comment")
            ->required();
    }
    int run() override { return batchCommand(file_, runCommandLine); }

private:
    std::string file_;
};

void describeProgram(CLI::App& app) {
    app.formatter(std::make_shared<Help>());
    app.require_subcommand(1);
    app.set_version_flag("--version", "mvmhost " MVMHOST_VERSION, "print the version and exit");
    app.allow_windows_style_options(false);  // so /absolute/paths stay paths on Windows builds
    app.footer(
        "Exit status: 0 success, 1 a failed check or a finding (check, fuzz), 2 a usage error or "
        "a library that cannot be loaded or used.");
}

// A chosen command run, whatever stops it shown as one line and ended with its exit status.
int runReported(Subcommand& command) {
    try {
        return command.run();
    } catch (const Error& error) {
        if (!error.interruption()) return failWith(error.what());
        std::fprintf(stderr, "mvmhost: %s\n", kInterruptedText);
        return error.exitStatus();
    } catch (const std::bad_alloc&) {
        return failWith("out of memory");
    } catch (const std::exception& e) {
        return failWith(e.what());
    }
}

}  // namespace

int runCommandLine(const std::vector<std::string>& args) {
    CLI::App app{"mvmhost: a command-line host for module libraries", "mvmhost"};
    describeProgram(app);
    InfoSubcommand info;
    RenderSubcommand render;
    DemoSubcommand demo;
    CheckSubcommand check;
    FuzzSubcommand fuzz;
    CompareSubcommand compare;
    BenchSubcommand bench;
    BatchSubcommand batch;
    Subcommand* const subcommands[] = {&info, &render,  &demo,  &check,
                                       &fuzz, &compare, &bench, &batch};
    for (Subcommand* subcommand : subcommands) subcommand->declare(app);

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
        return failWith(parseFailure(e, args));
    }

    for (Subcommand* subcommand : subcommands)
        if (subcommand->chosen()) return runReported(*subcommand);
    return failWith("no such command");
}

}  // namespace mvmhost

int main(int argc, char** argv) {
    return mvmhost::runCommandLine(std::vector<std::string>(argv + 1, argv + argc));
}
