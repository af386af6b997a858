#include "tools/mvmhost/check/selection.h"

#include <algorithm>
#include <string>

// g++ 12 warns about std::function inside std::regex's own code at -O2 (its bug 105562).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "tools/mvmhost/base/error.h"

namespace mvmhost {
namespace {

std::string allNames() {
    std::string names;
    for (const CheckDefinition& check : checkTable())
        names += (names.empty() ? "" : ", ") + std::string(check.name);
    return names;
}

std::regex pattern(const std::string& text, const char* option) {
    try {
        return std::regex(text, std::regex::ECMAScript);
    } catch (const std::regex_error&) {
        throw Error(std::string(option) + " '" + text + "' is not a regular expression");
    }
}

}  // namespace

std::vector<const CheckDefinition*> selectChecks(const CheckOptions& options) {
    for (const std::string& name : options.only) {
        const auto& table = checkTable();
        if (std::none_of(table.begin(), table.end(),
                         [&](const CheckDefinition& c) { return name == c.name; }))
            throw Error("there is no check named '" + name + "'; the checks: " + allNames());
    }
    const bool included = !options.include.empty(), excluded = !options.exclude.empty();
    const std::regex include = pattern(included ? options.include : ".", "--include");
    const std::regex exclude = pattern(excluded ? options.exclude : ".", "--exclude");
    std::vector<const CheckDefinition*> chosen;
    for (const CheckDefinition& check : checkTable()) {
        const bool named =
            std::find(options.only.begin(), options.only.end(), check.name) != options.only.end();
        if (!options.only.empty() ? !named : (check.strictOnly && !options.strict)) continue;
        if (included && !std::regex_search(check.name, include)) continue;
        if (excluded && std::regex_search(check.name, exclude)) continue;
        chosen.push_back(&check);
    }
    if (chosen.empty()) throw Error("no check is left to run; the checks: " + allNames());
    return chosen;
}

std::vector<std::string> checkNames() {
    std::vector<std::string> names;
    for (const CheckDefinition& check : checkTable()) names.push_back(check.name);
    return names;
}

}  // namespace mvmhost
