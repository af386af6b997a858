// Running a unit of work so that its crash or hang cannot take the run down with it.
#pragma once

#include <string>

namespace mvmhost {

// The sanitizer's one-line summary in a report ("AddressSanitizer: SEGV on unknown address
// ..."), else the first runtime error or error it names; empty when there is none.
std::string sanitizerSummary(const std::string& log);

}  // namespace mvmhost
