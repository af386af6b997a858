// Reader for the text that describes a list plug's choices.
//
// A list text is either an explicit list ("Off,On", "Low=10,Mid,High=3": items
// separated by commas, each a label with an optional "=value"; an item without
// a value takes the previous value plus one, the first one 0), or a range
// ("range 0,127": the keyword, any one character, a low bound, a comma and a
// high bound; each integer in between is an item labelled with its own
// decimal text).
//
// Nothing is cached: every walk parses the text again from its beginning.
//
// Numbers follow base-10 strtol: ASCII white space (space, \t \n \v \f \r) is
// skipped, one sign is taken, digits are read up to the first non-digit, no
// digits reads 0, and values beyond the signed 32-bit range read as the
// nearest limit on every target.
//
// Choices this reader makes where the format leaves room or would overflow:
// - "range 5", a range without a comma after the low bound, ends at its low
//   bound: it is the single item 5. "range " and "rangeX" read as "range 0".
// - A range walk never steps past 2147483647: it ends after that item.
// - An item index never exceeds 2147483647: a walk that would need more ends
//   after that item (only a range wider than 2^31 values gets that far).
// - itemCount() saturates at 2147483647 instead of overflowing.
// - In an explicit list, the value after 2147483647 wraps to -2147483648, as
//   32-bit counting does; the list keeps going since items remain.
//
// A text that is exactly "range" has no character after the keyword to skip;
// the constructor throws std::out_of_range and the free functions pass it on.
// Keep these calls inside the library: nothing here may reach the host.
#ifndef MV_FRAMEWORK_ENUM_LIST_ENUM_LIST_H
#define MV_FRAMEWORK_ENUM_LIST_ENUM_LIST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/wide_text.h"

namespace mv {

// Makes the wide form of an 8-bit list text, such as the ones handed to the
// host. Meant for ASCII; any other byte becomes the code point of its value.
WideString widen(std::string_view text);

struct EnumListItem {
    std::int32_t index = -1;  // position in the walk; -1 once the walk is over
    std::int32_t value = 0;   // the item's value, and the running value
    WideString label;
};

class EnumListIterator {
public:
    explicit EnumListIterator(const WideString& text);

    void first();
    void next();
    // Also true before the first call of first().
    bool done() const { return item_.index == -1; }
    // Meaningful only while done() is false.
    const EnumListItem& current() const { return item_; }

    // Counted from the text, not walked, so it differs from a walk in places:
    // a range whose low bound is above its high bound counts
    // |high - low| + 1 but yields nothing; a trailing comma counts an item the
    // walk does not yield; a leading comma does not count the empty item the
    // walk does yield; the empty text counts 1 and yields nothing.
    std::int32_t itemCount() const;

    // Each restarts the walk; on success it stands on the first match, else
    // the walk is over.
    bool findValue(std::int32_t value);
    bool findIndex(std::int32_t index);

private:
    void settleRangeItem();
    void nextListItem();

    WideString text_;
    EnumListItem item_;
    bool isRange_ = false;
    std::int32_t start_ = 0;   // range: low bound
    std::int32_t end_ = 0;     // range: high bound
    std::size_t nextPos_ = 0;  // explicit list: where the next item begins
};

bool isValidEnumValue(const WideString& list, std::int32_t value);

// The value itself when the list has it, else the first item's value, else 0.
std::int32_t forceValidEnumValue(const WideString& list, std::int32_t value);

}  // namespace mv

#endif
