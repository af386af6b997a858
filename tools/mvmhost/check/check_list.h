// The checks: one table (check_table.cpp) of name, description, level and function. Each
// check makes its own instances, so that it can run alone in a fresh child process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/check/check.h"
#include "tools/mvmhost/contract/rig.h"
#include "tools/mvmhost/runtime/module_library.h"

namespace mvmhost {

// What a check answers when it ends normally. A failure is not answered but raised.
struct Outcome {
    CheckStatus status;
    std::string reason;
};

inline Outcome pass(std::string reason) { return {CheckStatus::Pass, std::move(reason)}; }
inline Outcome skip(std::string reason) { return {CheckStatus::Skip, std::move(reason)}; }
inline Outcome warn(std::string reason) { return {CheckStatus::Warn, std::move(reason)}; }

// Declared to answer an Outcome so that `return fail(...)` reads as the verdict it is.
[[noreturn]] inline Outcome fail(std::string reason) { fault(std::move(reason)); }

struct CheckDefinition {
    const char* name;         // stable, kebab-case
    const char* description;  // one line: what must hold
    bool strictOnly;          // only with --strict (or --only)
    Outcome (*run)(CheckContext& context);
};

// In run order: the checks that feed a module what it may not expect come last, so that
// where all checks share one process a crash there costs the fewest results.
const std::vector<CheckDefinition>& checkTable();

// What a poke does to the instance at `clock`; a reason where it already shows a fault.
using Poke = std::function<std::string(Rig& rig, Random& random, int32_t clock)>;
// Two instances through the same stretches and stream-state changes, `poke` on the second after
// every stretch: each poke must make no host request and leave the record, and the two runs'
// outputs and requests must agree. Raises what differs, naming the pokes `what`; answers how
// many pokes there were.
int comparePoked(CheckContext& c, const std::string& what, const Poke& poke);

// The check functions, one per row of the table.
Outcome identityIndexZero(CheckContext& c);
Outcome identityOtherIndices(CheckContext& c);
Outcome makeModuleRefusals(CheckContext& c);
Outcome makeModuleRecords(CheckContext& c);
Outcome makeModuleRequests(CheckContext& c);
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
Outcome bufferLayouts(CheckContext& c);
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
Outcome pointersBeforeOpen(CheckContext& c);
Outcome negativeCounts(CheckContext& c);
Outcome nullCallback(CheckContext& c);
Outcome plugCounts(CheckContext& c);
Outcome eventsBeforeOpen(CheckContext& c);
Outcome stackAlignment(CheckContext& c);

}  // namespace mvmhost
