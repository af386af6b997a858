#include "tools/mvmhost/runtime/list_text.h"

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/runtime/hosted_module.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <utility>

namespace mvmhost {

int32_t readListNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min<int64_t>(magnitude * 10 + (text[i] - '0'), int64_t{1} << 32);
    const int64_t value = negative ? -magnitude : magnitude;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

namespace {

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

ListText::ListText(std::string text) : text_(std::move(text)) {
    // The keyword, then one separator of any kind; "range" alone is no list at all.
    if (text_.compare(0, 5, "range") != 0) return;
    isRange_ = true;
    if (text_.size() < 6) return;
    const std::string_view bounds = std::string_view(text_).substr(6);
    low_ = readListNumber(bounds);
    const size_t comma = bounds.find(',');
    high_ = comma == std::string_view::npos ? low_ : readListNumber(bounds.substr(comma + 1));
}

template <class Visit>
void ListText::walk(Visit visit) const {
    const std::string_view text(text_);
    int64_t value = -1;
    for (size_t start = 0; start < text.size();) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        std::string_view item = text.substr(start, comma - start);
        ++value;
        const size_t equals = item.find('=');
        if (equals != std::string_view::npos && equals > 0) {
            value = readListNumber(item.substr(equals + 1));
            item = item.substr(0, equals);
        }
        if (!visit(trimSpaces(item), static_cast<int32_t>(value))) return;
        start = comma + 1;
    }
}

int64_t ListText::count() const {
    if (isRange_) return high_ >= low_ ? int64_t{high_} - low_ + 1 : 0;
    int64_t n = 0;
    walk([&](std::string_view, int32_t) { return ++n, true; });
    return n;
}

std::optional<std::string> ListText::firstLabel() const {
    if (isRange_)
        return count() > 0 ? std::optional<std::string>(std::to_string(low_)) : std::nullopt;
    std::optional<std::string> first;
    walk([&](std::string_view label, int32_t) { return first = std::string(label), false; });
    return first;
}

std::optional<std::string> ListText::lastLabel() const {
    if (isRange_)
        return count() > 0 ? std::optional<std::string>(std::to_string(high_)) : std::nullopt;
    std::optional<std::string> last;
    walk([&](std::string_view label, int32_t) { return last = std::string(label), true; });
    return last;
}

std::optional<int32_t> ListText::valueOf(std::string_view label) const {
    if (isRange_) {
        const int32_t value = readListNumber(label);
        const bool canonical = std::to_string(value) == label;  // "07" labels no item of a range
        return canonical && value >= low_ && value <= high_ ? std::optional<int32_t>(value)
                                                            : std::nullopt;
    }
    std::optional<int32_t> found;
    walk([&](std::string_view l, int32_t v) { return l == label ? (found = v, false) : true; });
    return found;
}

std::optional<std::string> ListText::labelOf(int32_t value) const {
    if (isRange_)
        return value >= low_ && value <= high_ ? std::optional<std::string>(std::to_string(value))
                                               : std::nullopt;
    std::optional<std::string> found;
    walk([&](std::string_view l, int32_t v) {
        return v == value ? (found = std::string(l), false) : true;
    });
    return found;
}

std::string listLabel(const HostPlug& plug, int32_t value) {
    if (plug.description && plug.description->listText)
        if (auto label = ListText(*plug.description->listText).labelOf(value)) return *label;
    return std::to_string(value);
}

int16_t defaultListValue(const PlugDescription& description) {
    if (!description.defaultValue) return 0;
    const int32_t value = readListNumber(*description.defaultValue);
    return value < INT16_MIN || value > INT16_MAX ? 0 : static_cast<int16_t>(value);
}

int16_t listValueOfLabel(const HostPlug& plug, const std::string& label) {
    if (!plug.description || !plug.description->listText)
        throw Error(plug.name + " offers no list of items to choose from");
    const ListText list(*plug.description->listText);
    const std::optional<int32_t> value = list.valueOf(label);
    if (!value)
        throw Error(plug.name + " has no item labelled '" + label + "' (its " +
                    std::to_string(list.count()) + " items run from " +
                    list.firstLabel().value_or("") + " to " + list.lastLabel().value_or("") + ")");
    if (*value < INT16_MIN || *value > INT16_MAX)
        throw Error(plug.name + "=" + label + ": its value " + std::to_string(*value) +
                    " does not fit a list plug's 16 bits");
    return static_cast<int16_t>(*value);
}

}  // namespace mvmhost
