// The choices of a list plug, read from the list text its description carries: either items
// "label[=value]" separated by commas (an item without a value takes the previous one plus
// one, the first 0), or "range LOW,HIGH" whose items are the integers labelled by themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mvmhost {

struct HostPlug;
struct PlugDescription;

class ListText {
public:
    explicit ListText(std::string text);

    int64_t count() const;
    std::optional<std::string> firstLabel() const;
    std::optional<std::string> lastLabel() const;
    // The first item with this label, or with this value, in the list's own order.
    std::optional<int32_t> valueOf(std::string_view label) const;
    std::optional<std::string> labelOf(int32_t value) const;

private:
    // Calls visit(label, value) for each explicit item until it answers false.
    template <class Visit>
    void walk(Visit visit) const;

    std::string text_;
    bool isRange_ = false;
    int32_t low_ = 0, high_ = -1;
};

// A decimal integer as the list format reads one: leading blanks, a sign, digits up to the
// first other character, 0 without digits, clamped to the 32-bit range.
int32_t readListNumber(std::string_view text);

// The label of a list plug's value, or the value itself when the list has no such item.
std::string listLabel(const HostPlug& plug, int32_t value);

// The list value a description's default text names; 0 when it names none, or none that fits
// a list plug's 16 bits.
int16_t defaultListValue(const PlugDescription& description);

// The value of a list plug's item labelled `label`. Throws Error when the plug has no list, no
// such item, or an item whose value does not fit 16 bits.
int16_t listValueOfLabel(const HostPlug& plug, const std::string& label);

}  // namespace mvmhost
