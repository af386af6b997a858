// What --in, --set and --event say, read from the text alone: which plugs and labels the
// names stand for is the module's to answer, so Render resolves them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "host/module_event.h"
#include "tools/mvmhost/base/user_text.h"

namespace mvmhost {

// NAME=VALUE, split at the first '=', so that a value may hold more of them. Throws Error
// showing `option`, the text and the `form` expected when there is no name.
std::pair<std::string, std::string> splitAssignment(const std::string& text, const char* option,
                                                    const char* form);

// --set PLUG=LABEL, or PLUG=LABEL@POSITION for a change while the render runs.
struct ListSetting {
    std::string plug;
    std::string label;
    std::optional<SampleTime> position;  // empty: the value from the start
};
ListSetting parseListSetting(const std::string& text);

// --event CLOCK:TYPE:P1:P2, TYPE a number or DataEvent, P1 and P2 signed 32-bit. The clock is
// counted at `sampleRate` and must fall inside a render of `samples`: a time means nothing before
// the rate is known.
mv::ModuleEvent parseEvent(const std::string& text, double sampleRate, int32_t samples);

}  // namespace mvmhost
