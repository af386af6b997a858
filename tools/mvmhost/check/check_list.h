// The checks: one table (check_table.cpp) of name, description, level and function. Each
// check makes its own instances, so that it can run alone in a fresh child process.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "tools/mvmhost/check/check.h"
#include "tools/mvmhost/module_library.h"

namespace mvmhost {

// What a check answers when it ends normally. A failure is not answered but raised.
struct Outcome {
    CheckStatus status;
    std::string reason;
};

inline Outcome pass(std::string reason) { return {CheckStatus::Pass, std::move(reason)}; }
inline Outcome skip(std::string reason) { return {CheckStatus::Skip, std::move(reason)}; }
inline Outcome warn(std::string reason) { return {CheckStatus::Warn, std::move(reason)}; }

// A module fault, raised in validator code where it is seen (never inside a module's entry:
// what the host callback sees is recorded there and raised once the entry has returned),
// with context added on the way up, and reported once by the runner.
class CheckFailure : public std::exception {
public:
    explicit CheckFailure(std::string reason) : reason_(std::move(reason)) {}
    const char* what() const noexcept override { return reason_.c_str(); }
    void addContext(const std::string& context) { reason_ += " " + context; }

private:
    std::string reason_;
};

// Declared to answer an Outcome so that `return fail(...)` reads as the verdict it is.
[[noreturn]] inline Outcome fail(std::string reason) { throw CheckFailure(std::move(reason)); }

// Runs `work`; a failure raised inside it leaves with `context` ("in block 3") appended.
template <class Work>
decltype(auto) within(const std::string& context, Work&& work) {
    try {
        return work();
    } catch (CheckFailure& failure) {
        failure.addContext(context);
        throw;
    }
}

struct CheckContext {
    EntryPoints entries;
    uint64_t seed = 0;
    bool strict = false;
    int32_t blockSize = 1024;
    // Blocks a processing check runs; more under --strict.
    int32_t blocks() const { return strict ? 48 : 6; }
};

struct CheckDefinition {
    const char* name;         // stable, kebab-case
    const char* description;  // one line: what must hold
    bool strictOnly;          // only with --strict (or --only)
    Outcome (*run)(CheckContext& context);
};

// In run order: the checks that feed a module what it may not expect come last, so that
// where all checks share one process a crash there costs the fewest results.
const std::vector<CheckDefinition>& checkTable();

// The check functions, one per row of the table.
Outcome identityIndexZero(CheckContext& c);
Outcome identityOtherIndices(CheckContext& c);
Outcome makeModuleRefusals(CheckContext& c);
Outcome makeModuleRecords(CheckContext& c);
Outcome textsStayValid(CheckContext& c);
Outcome opcodeAnswers(CheckContext& c);
Outcome recordWords(CheckContext& c);
Outcome requestPlugs(CheckContext& c);
Outcome processBindingInfo(CheckContext& c);
Outcome processEntryOrder(CheckContext& c);
Outcome plugDescriptions(CheckContext& c);
Outcome enumLists(CheckContext& c);
Outcome lifecycleCycles(CheckContext& c);
Outcome lifecycleMemory(CheckContext& c);
Outcome stretchGeometry(CheckContext& c);
Outcome stretchReads(CheckContext& c);
Outcome splitDeterminism(CheckContext& c);
Outcome instanceIsolation(CheckContext& c);
Outcome outputValues(CheckContext& c);
Outcome longStretches(CheckContext& c);
Outcome blockSizeIndependence(CheckContext& c);
Outcome realtimeAllocation(CheckContext& c);
Outcome stateAnnouncements(CheckContext& c);
Outcome staticStability(CheckContext& c);
Outcome stateClocks(CheckContext& c);
Outcome stateChangeDeterminism(CheckContext& c);
Outcome unknownEvents(CheckContext& c);
Outcome unknownOpcodes(CheckContext& c);
Outcome processRequests(CheckContext& c);
Outcome reopen(CheckContext& c);
Outcome negativeCounts(CheckContext& c);
Outcome nullCallback(CheckContext& c);
Outcome plugCounts(CheckContext& c);
Outcome eventsBeforeOpen(CheckContext& c);

}  // namespace mvmhost
