// The checks themselves, as a table the runner walks. Each check makes its own instances,
// so that it can run alone in a fresh child process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mvmhost/check/check.h"
#include "tools/mvmhost/module_library.h"

namespace mvmhost {

struct Outcome {
    CheckStatus status;
    std::string reason;
};

inline Outcome pass(std::string reason) { return {CheckStatus::Pass, std::move(reason)}; }
inline Outcome fail(std::string reason) { return {CheckStatus::Fail, std::move(reason)}; }
inline Outcome skip(std::string reason) { return {CheckStatus::Skip, std::move(reason)}; }
inline Outcome warn(std::string reason) { return {CheckStatus::Warn, std::move(reason)}; }

struct CheckContext {
    EntryPoints entries;
    uint64_t seed = 0;
    bool strict = false;
    int32_t blockSize = 1024;
    // Blocks a processing check runs; more under --strict.
    int32_t blocks() const { return strict ? 48 : 6; }
};

struct CheckDefinition {
    const char* name;        // stable, kebab-case
    bool strictOnly;         // only with --strict (or --only)
    Outcome (*run)(CheckContext& context);
};

// In run order: the checks that feed a module what it may not expect come last, so that
// where all checks share one process a crash there costs the fewest results.
const std::vector<CheckDefinition>& checkTable();

// The groups, in run order.
void addInterfaceChecks(std::vector<CheckDefinition>& table);
void addEnumListCheck(std::vector<CheckDefinition>& table);
void addProcessingChecks(std::vector<CheckDefinition>& table);
void addUnknownOpcodeCheck(std::vector<CheckDefinition>& table);
void addRobustnessChecks(std::vector<CheckDefinition>& table);

}  // namespace mvmhost
