#include "tools/mvmhost/commands/render_options.h"

#include <vector>

#include "tools/mvmhost/base/error.h"

namespace mvmhost {

std::pair<std::string, std::string> splitAssignment(const std::string& text, const char* option,
                                                    const char* form) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0)
        throw Error(std::string(option) + " " + text + ": expected " + form);
    return {text.substr(0, equals), text.substr(equals + 1)};
}

ListSetting parseListSetting(const std::string& text) {
    auto [plug, rest] = splitAssignment(text, "--set", "PLUG=LABEL or PLUG=LABEL@SAMPLE");
    ListSetting setting{plug, rest, std::nullopt};
    // LABEL@POSITION, unless what follows the last @ is no position: then it is all label.
    const size_t at = rest.rfind('@');
    if (at != std::string::npos)
        if (const std::optional<SampleTime> position = SampleTime::parse(rest.substr(at + 1))) {
            setting.label = rest.substr(0, at);
            setting.position = position;
        }
    return setting;
}

// The clock is what stands before the last three fields, so that a time such as 1:30 may be one.
mv::ModuleEvent parseEvent(const std::string& text, double sampleRate, int32_t samples) {
    const std::string form =
        "--event " + text + ": expected CLOCK:TYPE:P1:P2 (e.g. 100:DataEvent:7:3)";
    std::vector<std::string> fields;
    size_t end = text.size();
    for (int field = 0; field < 3; ++field) {
        const size_t colon = end == 0 ? std::string::npos : text.rfind(':', end - 1);
        if (colon == std::string::npos) throw Error(form);
        fields.insert(fields.begin(), text.substr(colon + 1, end - colon - 1));
        end = colon;
    }
    fields.insert(fields.begin(), text.substr(0, end));
    auto number = [&](const std::string& field, const char* what) {
        const bool negative = !field.empty() && field[0] == '-';
        const std::optional<uint64_t> magnitude = parseUnsigned(negative ? field.substr(1) : field);
        const uint64_t limit = negative ? uint64_t{INT32_MAX} + 1 : uint64_t{INT32_MAX};
        if (!magnitude || *magnitude > limit)
            throw Error("--event " + text + ": " + what + " '" + field +
                        "' is not a 32-bit whole number");
        return static_cast<int32_t>(negative ? -static_cast<int64_t>(*magnitude)
                                             : static_cast<int64_t>(*magnitude));
    };
    const std::optional<SampleTime> at = SampleTime::parse(fields[0]);
    if (!at)
        throw Error("--event " + text + ": the clock '" + fields[0] + "' is not " +
                    kSampleTimeForms);
    const int64_t clock = at->at(sampleRate);
    if (clock >= samples)
        throw Error("--event " + text + ": the render ends at sample " +
                    std::to_string(int64_t{samples} - 1));
    const int32_t type =
        fields[1] == "DataEvent" ? int32_t{mv::DataEvent} : number(fields[1], "the type");
    return mv::ModuleEvent{static_cast<int32_t>(clock), type, number(fields[2], "P1"),
                           number(fields[3], "P2"),     0,    0};
}

}  // namespace mvmhost
