// mvmhost check against real module libraries: the counter and a plain module must pass, and
// each deliberately faulty module must fail the check that names its fault. The validator's
// report is captured, never printed.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/check/check.h"
#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/contract/stimulus.h"
#include "tools/mvmhost/runtime/alloc_hooks.h"

namespace mvmhost {
namespace {

std::string library(const std::string& file) { return std::string(MV_LIBRARY_DIR) + "/" + file; }

CheckOptions options(const std::string& file, const std::string& only = {}) {
    CheckOptions o;
    o.libraries = {library(file)};
    o.seed = 20240601;
    if (!only.empty()) o.only = {only};
    o.timeLimit = 120;  // the 32-bit build runs under emulation on some machines
    return o;
}

// --- good modules pass everything ----------------------------------------------------------

struct GoodModule {
    const char* file;
    bool strict;
};

class ValidatorPasses : public ::testing::TestWithParam<GoodModule> {};

TEST_P(ValidatorPasses, EveryCheck) {
    CheckOptions o = options(GetParam().file);
    o.strict = GetParam().strict;
    std::ostringstream report;
    const CheckRun run = runChecks(o, report);
    EXPECT_EQ(run.exitStatus, 0) << report.str();
    for (const CheckResult& r : run.results)
        EXPECT_NE(r.status, CheckStatus::Fail) << r.name << ": " << r.reason;
    EXPECT_GE(run.results.size(), o.strict ? checkNames().size() : 15u);
}

INSTANTIATE_TEST_SUITE_P(Modules, ValidatorPasses,
                         ::testing::Values(GoodModule{"COUNTreset1.mvm", false},
                                           GoodModule{"COUNTreset1.mvm", true},
                                           GoodModule{"faulty_plain.mvm", false},
                                           GoodModule{"faulty_plain.mvm", true},
                                           GoodModule{"faulty_plain_sum.mvm", false},
                                           GoodModule{"faulty_plain_sum.mvm", true}));

// --- faulty modules fail for their own fault -------------------------------------------------

struct Fault {
    const char* file;
    const char* check;    // the check that must fail
    const char* reason;   // a part of its reason
    bool strict = false;  // a fault only --strict fails
};

class ValidatorCatches : public ::testing::TestWithParam<Fault> {};

TEST_P(ValidatorCatches, TheFault) {
    CheckOptions o = options(GetParam().file, GetParam().check);
    o.strict = GetParam().strict;
    o.timeLimit = std::string(GetParam().reason) == "timed out" ? 3 : 120;
    std::ostringstream report;
    const CheckRun run = runChecks(o, report);
    ASSERT_EQ(run.results.size(), 1u) << report.str();
    EXPECT_EQ(run.results[0].name, GetParam().check);
    EXPECT_EQ(run.results[0].status, CheckStatus::Fail) << report.str();
    EXPECT_NE(run.results[0].reason.find(GetParam().reason), std::string::npos) << report.str();
    EXPECT_EQ(run.exitStatus, 1);
}

const Fault kFaults[] = {
    {"faulty_overrun.mvm", "stretch-geometry", "outside the stretch"},
    {"faulty_split_dependent.mvm", "split-determinism", "depends on how a block is split"},
    {"faulty_describe_two.mvm", "plug-descriptions", "opcode 6 answered 2"},
    {"faulty_leaky.mvm", "lifecycle-memory", "still held"},
    {"faulty_allocating.mvm", "realtime-allocation", "allocated"},
    {"faulty_allocates_once.mvm", "realtime-allocation", "allocated"},
    {"faulty_shared_state.mvm", "instance-isolation", "instances share state"},
    {"faulty_shared_state.mvm", "split-determinism", "state survives from one instance"},
    {"faulty_crashing.mvm", "unknown-events", "crashed"},
    {"faulty_hanging.mvm", "stretch-geometry", "timed out"},
    {"faulty_bad_states.mvm", "state-announcements", "announced a state for the input"},
    {"faulty_writes_input.mvm", "stretch-geometry", "of the input in"},
    {"faulty_reads_ahead.mvm", "stretch-reads", "1 sample past the end of in's stretch"},
    {"faulty_reads_behind.mvm", "stretch-reads", "1 sample before the start of in's stretch"},
    {"faulty_reads_past_buffer.mvm", "stretch-reads", "read sample 1024 of in's buffer"},
    {"faulty_process_asks_clock.mvm", "process-requests", "the process entry made a host request"},
    {"faulty_event_asks_buffer.mvm", "process-requests",
     "asked for a buffer (request 7) after open"},
    {"faulty_nan_on_combination.mvm", "output-values", "answered NaN"},
    {"faulty_nan_when_held.mvm", "output-values", "answered NaN"},
    {"faulty_decays_to_denormal.mvm", "output-values", "answered a denormal", true},
    {"faulty_stops_at_8192.mvm", "long-stretches", "left sample 8192 of out unwritten"},
    {"faulty_scratch_4096.mvm", "long-stretches", "a long stretch gives other output"},
    {"faulty_block_size_dependent.mvm", "block-size-independence",
     "depends on the block size opcode 3 announced"},
    {"faulty_selects_untold.mvm", "process-entry-order",
     "rewrote processEntry while opening without telling"},
    {"faulty_tells_before_select.mvm", "process-entry-order",
     "told the host (request 22) while opening before"},
    {"faulty_switches_untold.mvm", "process-entry-order", "rewrote processEntry in the handler of"},
    {"faulty_version_at_zero_only.mvm", "identity-other-indices",
     "left frameworkVersion unwritten"},
    {"faulty_event_asks_buffer.mvm", "process-requests",
     "asked for a buffer (request 7) after open"},
    {"faulty_glides_while_static.mvm", "static-stability", "announced Static from clock"},
    {"faulty_coincidence.mvm", "static-stability", "announced Static from clock"},
    {"faulty_late_announcements.mvm", "state-clocks", "before the host's clock"},
    {"faulty_shared_announcement_count.mvm", "state-change-determinism", "announces differently"},
    {"faulty_shared_last_state.mvm", "state-change-determinism", "announces differently"},
    {"faulty_reused_name_buffer.mvm", "texts-stay-valid",
     "description 0's name (first instance) read \"in\""},
    {"faulty_scratch_texts.mvm", "texts-stay-valid", "the name read \"Scratch texts\""},
    {"faulty_notify_before_open.mvm", "opcode-answers", "crashed"},
    {"faulty_open_answers_one.mvm", "opcode-answers", "opcode 0 (open) answered 1"},
    {"faulty_scribbles_record.mvm", "record-words", "four reserved words after eventEntry changed"},
    {"faulty_rounds_rate.mvm", "record-words", "opcode 2 last sent 22050.5"},
    {"faulty_asks_missing_plug.mvm", "request-plugs", "host request 8 names plug 3"},
    {"faulty_min_combiner.mvm", "static-stability", "announced Static from clock"},
    {"faulty_never_announces.mvm", "static-stability", "never announced (so Static)"},
    {"faulty_handler_before_store.mvm", "static-stability", "announced Static from clock"},
    {"faulty_static_divider.mvm", "static-stability", "announced Static from clock"},
    {"faulty_event_one_as_state.mvm", "unknown-events", "made a host request"},
    {"faulty_announces_unmade.mvm", "request-plugs", "host request 0 names plug 2"},
    {"faulty_rereads_input.mvm", "buffer-layouts",
     "with out on in's buffer (in place), out sample"},
    {"faulty_open_clears_pointers.mvm", "pointers-before-open", "open changed in's buffer pointer",
     true},
    {"faulty_mends_settings.mvm", "record-words", "after opcode 3 sent 0; opcode 3 last sent 0",
     true},
    {"faulty_reserved_left.mvm", "make-module-records", "reserved words are not 0", true},
    {"faulty_opens_in_make.mvm", "make-module-requests",
     "makeModule made 2 host requests, request 14"},
#if __has_include("framework/enum_list/enum_list.h")
    {"faulty_bad_list.mvm", "enum-lists", "default 5 is not one of its 2 values"},
#endif
};

INSTANTIATE_TEST_SUITE_P(Modules, ValidatorCatches, ::testing::ValuesIn(kFaults));

// The faulty modules made for a class of fault fail only the check that names it.
const Fault kSingleFaults[] = {
    {"faulty_reads_ahead.mvm", "stretch-reads", ""},
    // Reading the previous input sample after writing the output is also an in-place fault.
    {"faulty_reads_behind.mvm", "stretch-reads|buffer-layouts", ""},
    {"faulty_reads_past_buffer.mvm", "stretch-reads", ""},
    {"faulty_process_asks_clock.mvm", "process-requests", ""},
    {"faulty_event_asks_buffer.mvm", "process-requests", ""},
    {"faulty_nan_on_combination.mvm", "output-values", ""},
    {"faulty_nan_when_held.mvm", "output-values", ""},
    {"faulty_decays_to_denormal.mvm", "output-values", ""},
    {"faulty_stops_at_8192.mvm", "long-stretches", ""},
    {"faulty_scratch_4096.mvm", "long-stretches", ""},
    {"faulty_block_size_dependent.mvm", "block-size-independence", ""},
    {"faulty_selects_untold.mvm", "process-entry-order", ""},
    {"faulty_tells_before_select.mvm", "process-entry-order", ""},
    {"faulty_switches_untold.mvm", "process-entry-order", ""},
    {"faulty_version_at_zero_only.mvm", "identity-other-indices", ""},
    {"faulty_glides_while_static.mvm", "static-stability", ""},
    {"faulty_coincidence.mvm", "static-stability", ""},
    {"faulty_late_announcements.mvm", "state-clocks", ""},
    {"faulty_shared_announcement_count.mvm", "state-change-determinism", ""},
    {"faulty_shared_last_state.mvm", "state-change-determinism", ""},
    {"faulty_reused_name_buffer.mvm", "texts-stay-valid", ""},
    {"faulty_scratch_texts.mvm", "texts-stay-valid", ""},
    {"faulty_notify_before_open.mvm", "opcode-answers", ""},
    {"faulty_open_answers_one.mvm", "opcode-answers", ""},
    {"faulty_scribbles_record.mvm", "record-words", ""},
    {"faulty_rounds_rate.mvm", "record-words", ""},
    {"faulty_asks_missing_plug.mvm", "request-plugs", ""},
    {"faulty_min_combiner.mvm", "static-stability", ""},
    {"faulty_never_announces.mvm", "static-stability", ""},
    {"faulty_handler_before_store.mvm", "static-stability", ""},
    {"faulty_static_divider.mvm", "static-stability", ""},
    {"faulty_event_one_as_state.mvm", "unknown-events", ""},
    {"faulty_announces_unmade.mvm", "request-plugs", ""},
    {"faulty_rereads_input.mvm", "buffer-layouts", ""},
    {"faulty_open_clears_pointers.mvm", "pointers-before-open", ""},
    {"faulty_mends_settings.mvm", "record-words", ""},
    {"faulty_reserved_left.mvm", "make-module-records", ""},
    {"faulty_opens_in_make.mvm", "make-module-requests", ""},
};

class ValidatorBlamesOnlyItsFault : public ::testing::TestWithParam<Fault> {};

TEST_P(ValidatorBlamesOnlyItsFault, EveryOtherCheckPasses) {
    CheckOptions o = options(GetParam().file);
    o.strict = true;
    o.exclude = std::string("^(") + GetParam().check + ")$";
    std::ostringstream report;
    const CheckRun run = runChecks(o, report);
    EXPECT_EQ(run.exitStatus, 0) << report.str();
}

INSTANTIATE_TEST_SUITE_P(Modules, ValidatorBlamesOnlyItsFault, ::testing::ValuesIn(kSingleFaults));

// The faulty modules are the plain module with one change: apart from the checks their fault
// touches, they pass.
struct Neighbour {
    const char* file;
    const char* check;
};

class ValidatorSpares : public ::testing::TestWithParam<Neighbour> {};

TEST_P(ValidatorSpares, ChecksTheFaultDoesNotTouch) {
    std::ostringstream report;
    const CheckRun run = runChecks(options(GetParam().file, GetParam().check), report);
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_EQ(run.results[0].status, CheckStatus::Pass) << report.str();
}

INSTANTIATE_TEST_SUITE_P(Modules, ValidatorSpares,
                         ::testing::Values(Neighbour{"faulty_split_dependent.mvm",
                                                     "stretch-geometry"},
                                           Neighbour{"faulty_shared_state.mvm", "stretch-geometry"},
                                           Neighbour{"faulty_leaky.mvm", "realtime-allocation"},
                                           Neighbour{"faulty_overrun.mvm", "plug-descriptions"},
                                           Neighbour{"faulty_inverts.mvm", "output-values"}));

// --- the report ------------------------------------------------------------------------------

TEST(ValidatorReport, OneLinePerCheckThenTheClosingLine) {
    std::ostringstream report;
    const CheckRun run = runChecks(options("faulty_overrun.mvm"), report);
    std::vector<std::string> lines;
    std::istringstream in(report.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    // Header, a line per check, the first cause (a write past a buffer), the tally.
    ASSERT_EQ(lines.size(), run.results.size() + 3);
    EXPECT_NE(lines.front().find("seed 20240601"), std::string::npos) << lines.front();
    ASSERT_GE(run.firstCause, 0);
    const std::string& cause = lines[lines.size() - 2];
    EXPECT_EQ(
        cause.rfind("first cause: " + run.results[static_cast<size_t>(run.firstCause)].name, 0), 0u)
        << cause;
    for (size_t i = 0; i < run.results.size(); ++i) {
        const CheckResult& r = run.results[i];
        const bool later = static_cast<int>(i) > run.firstCause && r.status == CheckStatus::Fail;
        EXPECT_EQ(!r.mayFollowFrom.empty(), later) << r.name;
        EXPECT_EQ(lines[i + 1].find("[may follow from ") != std::string::npos, later)
            << lines[i + 1];
    }
    for (size_t i = 0; i < run.results.size(); ++i) {
        const std::string& line = lines[i + 1];
        EXPECT_EQ(line.compare(0, 4,
                               run.results[i].status == CheckStatus::Pass   ? "PASS"
                               : run.results[i].status == CheckStatus::Fail ? "FAIL"
                               : run.results[i].status == CheckStatus::Skip ? "SKIP"
                                                                            : "WARN"),
                  0)
            << line;
        EXPECT_NE(line.find(run.results[i].name), std::string::npos);
        EXPECT_EQ(line.substr(line.size() - 3), " s)") << line;
    }
    int passed = 0, failed = 0, skipped = 0, warned = 0;
    ASSERT_EQ(std::sscanf(lines.back().c_str(), "%d passed, %d failed, %d skipped, %d warned",
                          &passed, &failed, &skipped, &warned),
              4)
        << lines.back();
    EXPECT_EQ(passed + failed + skipped + warned, static_cast<int>(run.results.size()));
    EXPECT_GE(failed, 1);
    EXPECT_EQ(run.exitStatus, 1);
}

TEST(ValidatorReport, SameSeedSameVerdicts) {
    std::ostringstream first, second;
    const CheckRun a = runChecks(options("faulty_split_dependent.mvm", "split-determinism"), first);
    const CheckRun b =
        runChecks(options("faulty_split_dependent.mvm", "split-determinism"), second);
    ASSERT_EQ(a.results.size(), 1u);
    ASSERT_EQ(b.results.size(), 1u);
    EXPECT_EQ(a.results[0].reason, b.results[0].reason);
}

TEST(ValidatorReport, JsonHoldsEveryResult) {
    CheckOptions o = options("faulty_describe_two.mvm", "plug-descriptions");
    o.json = ::testing::TempDir() + "check_report.json";
    std::ostringstream report;
    runChecks(o, report);
    std::ifstream file(o.json);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("\"name\": \"plug-descriptions\", \"status\": \"FAIL\""),
              std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find("\"seed\": 20240601"), std::string::npos);
    EXPECT_NE(text.str().find("\"failed\": 1"), std::string::npos);
    std::remove(o.json.c_str());
}

struct BadCommand {
    const char* file;
    const char* only;
    const char* json;
    const char* message;
};

class ValidatorRefuses : public ::testing::TestWithParam<BadCommand> {};

TEST_P(ValidatorRefuses, WithFailure) {
    CheckOptions o = options(GetParam().file, GetParam().only);
    o.json = GetParam().json;
    std::ostringstream report;
    try {
        runChecks(o, report);
        FAIL() << "no Error; report: " << report.str();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
    }
    EXPECT_EQ(report.str(), "");  // nothing ran
}

INSTANTIATE_TEST_SUITE_P(Commands, ValidatorRefuses,
                         ::testing::Values(BadCommand{"no_such_library.mvm", "", "",
                                                      "no such file"},
                                           BadCommand{"faulty_plain.mvm", "no-such-check", "",
                                                      "there is no check named"},
                                           BadCommand{"faulty_plain.mvm", "",
                                                      "/no/such/dir/report.json", "cannot write"}));

// --- choosing, isolating, reporting ----------------------------------------------------------

struct Choice {
    const char* only;
    bool strict;
    const char* include;
    const char* exclude;
    std::vector<std::string> expected;  // empty: every default check but the excluded
};

class ValidatorChooses : public ::testing::TestWithParam<Choice> {};

TEST_P(ValidatorChooses, TheChecksNamed) {
    CheckOptions o = options("faulty_plain.mvm", GetParam().only);
    o.strict = GetParam().strict;
    o.include = GetParam().include;
    o.exclude = GetParam().exclude;
    o.inProcess = true;
    std::ostringstream report;
    std::vector<std::string> ran;
    for (const CheckResult& r : runChecks(o, report).results) ran.push_back(r.name);
    EXPECT_EQ(ran, GetParam().expected) << report.str();
}

INSTANTIATE_TEST_SUITE_P(
    Options, ValidatorChooses,
    ::testing::Values(
        Choice{"reopen", false, "", "", {"reopen"}},  // --only reaches a strict check
        Choice{"", false, "^identity-", "", {"identity-index-0", "identity-other-indices"}},
        Choice{"", true, "open", "^un", {"reopen", "pointers-before-open", "events-before-open"}},
        Choice{"", false, "lifecycle|enum", "memory", {"enum-lists", "lifecycle-cycles"}}));

// Every row of the check table in docs/validator.md is a row of the validator's table, in order.
TEST(ValidatorList, MatchesTheDocumentedTable) {
    std::ifstream doc(std::string(MV_SOURCE_DIR) + "/docs/validator.md");
    ASSERT_TRUE(doc) << "no docs/validator.md";
    // Rows read "| `name` | description |" or "| `name` (strict) | description |".
    std::vector<std::string> documented;
    bool inTable = false;
    for (std::string line; std::getline(doc, line);) {
        inTable = line == "| check | what must hold |" || (inTable && !line.empty());
        if (!inTable || line.rfind("| `", 0) != 0 || line.size() < 8 ||
            line.compare(line.size() - 2, 2, " |") != 0)
            continue;
        const size_t tick = line.find('`', 3), bar = line.find(" | ", 3);
        if (tick == std::string::npos || bar == std::string::npos || tick > bar) continue;
        const std::string level = line.substr(tick + 1, bar - tick - 1);
        documented.push_back(line.substr(3, tick - 3) + level + ": " +
                             line.substr(bar + 3, line.size() - bar - 5));
    }
    ASSERT_FALSE(documented.empty())
        << "no \"| check | what must hold |\" table in docs/validator.md";
    std::vector<std::string> listed;
    std::ostringstream list;
    listChecks(list);
    std::istringstream lines(list.str());
    for (const CheckDefinition& check : checkTable()) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_NE(line.find(check.name), std::string::npos) << line;
        EXPECT_NE(line.find(check.description), std::string::npos) << line;
        listed.push_back(std::string(check.name) + (check.strictOnly ? " (strict)" : "") + ": " +
                         check.description);
    }
    EXPECT_EQ(documented, listed);
}

// A crash that takes down the process running every check still closes the report: the
// checks after it are listed as not run, in the closing line and in the JSON.
TEST(ValidatorIsolation, InProcessCrashListsWhatDidNotRun) {
    CheckOptions o = options("faulty_crashing.mvm");
    o.inProcess = true;
    o.json = ::testing::TempDir() + "crash_report.json";
    std::remove(o.json.c_str());
    EXPECT_EXIT(runChecks(o, std::cerr), ::testing::ExitedWithCode(1),
                "FAIL  [a-z-]+ +crashed \\(signal");
    std::ifstream file(o.json);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("\"status\": \"FAIL\", \"reason\": \"crashed (signal"),
              std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find("\"NOT RUN\""), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("\"stack-alignment\"]"), std::string::npos) << text.str();
    std::remove(o.json.c_str());
}

TEST(ValidatorIsolation, InProcessCrashClosingLine) {
    CheckOptions o = options("faulty_crashing.mvm");
    o.inProcess = true;
    EXPECT_EXIT(runChecks(o, std::cerr), ::testing::ExitedWithCode(1),
                "warned, [0-9]+ not run: .*stack-alignment\n");
}

// In a child, a crash reads as a crash, with the sanitizer's one-line summary where there is
// one and its report left in the log file the line names.
TEST(ValidatorIsolation, ChildCrashNamesItsCause) {
    std::ostringstream report;
    const CheckRun run = runChecks(options("faulty_crashing.mvm", "unknown-events"), report);
    ASSERT_EQ(run.results.size(), 1u);
    const std::string& reason = run.results[0].reason;
    EXPECT_EQ(reason.rfind("crashed (", 0), 0u) << reason;
    EXPECT_EQ(reason.find("exited with status"), std::string::npos) << reason;
    const size_t at = reason.find("; report in ");
    if (at != std::string::npos) {
        const std::string log = reason.substr(at + 12, reason.size() - at - 13);
        std::ifstream file(log);
        std::stringstream text;
        text << file.rdbuf();
        EXPECT_NE(text.str().find("ERROR"), std::string::npos) << log;
        EXPECT_EQ(report.str().find("ERROR"), std::string::npos);
        std::remove(log.c_str());
    }
}

// Run in this process, as on Windows, every check still meets a library as freshly loaded as a
// child process does: what the library does once in its life is seen by the check it hurts,
// wherever that check runs in the order.
TEST(ValidatorIsolation, InProcessChecksEachLoadTheLibraryAfresh) {
    for (const bool inProcess : {false, true}) {
        CheckOptions o = options("faulty_allocates_once.mvm");
        o.inProcess = inProcess;
        std::ostringstream report;
        const CheckRun run = runChecks(o, report);
        const auto allocation =
            std::find_if(run.results.begin(), run.results.end(),
                         [](const CheckResult& r) { return r.name == "realtime-allocation"; });
        ASSERT_NE(allocation, run.results.end()) << report.str();
        EXPECT_EQ(allocation->status, CheckStatus::Fail)
            << (inProcess ? "in process: " : "in children: ") << report.str();
    }
}

// Ctrl-C ends the check's process at once; what did not run is listed.
TEST(ValidatorIsolation, InterruptEndsTheChild) {
    CheckOptions o = options("faulty_hanging.mvm");
    o.timeLimit = 60;
    std::thread interrupter([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        std::raise(SIGINT);
    });
    std::ostringstream report;
    const auto start = std::chrono::steady_clock::now();
    const CheckRun run = runChecks(o, report);
    interrupter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(run.interrupted);
    EXPECT_EQ(run.exitStatus, 130);
    ASSERT_FALSE(run.results.empty());
    EXPECT_EQ(run.results.back().status, CheckStatus::NotRun);
    EXPECT_NE(report.str().find("interrupted: "), std::string::npos) << report.str();
}

// --- the pieces the checks stand on ------------------------------------------------------------

TEST(AllocationWatch, CountsWhatThisProcessAllocates) {
    ASSERT_TRUE(allocationHooksAvailable());
    AllocationCount count;
    {
        AllocationWatch watch;
        void* block = std::malloc(24);
        *static_cast<void* volatile*>(&block) = block;  // keeps the pair from being folded away
        std::free(block);
        delete new std::vector<int>(100);
        count = watch.count();
    }
    EXPECT_GE(count.allocations, 3u);
    EXPECT_EQ(count.allocations, count.releases);
}

TEST(RandomSplit, CoversTheBlockWithZeroAndTinyStretches) {
    Random random(7);
    bool sawZero = false, sawOne = false;
    for (int32_t count : {0, 1, 2, 17, 1024}) {
        for (int round = 0; round < 50; ++round) {
            const std::vector<int32_t> lengths = randomSplit(random, count);
            EXPECT_EQ(std::accumulate(lengths.begin(), lengths.end(), 0), count);
            for (int32_t n : lengths) {
                EXPECT_GE(n, 0);
                sawZero |= n == 0;
                sawOne |= n == 1;
            }
        }
    }
    EXPECT_TRUE(sawZero);
    EXPECT_TRUE(sawOne);
}

}  // namespace
}  // namespace mvmhost
