#include "framework/enum_list/enum_list.h"

#include <cstdio>
#include <limits>

namespace mv {

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

constexpr char kRangeKeyword[] = "range";
constexpr std::size_t kRangeKeywordLength = sizeof kRangeKeyword - 1;

// Fixed set rather than iswspace, so the result does not depend on a locale.
bool isAsciiSpace(WideChar c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool isDigit(WideChar c) { return c >= '0' && c <= '9'; }

std::int32_t readNumber(const WideString& text, std::size_t pos) {
    const std::size_t n = text.size();
    while (pos < n && isAsciiSpace(text[pos])) ++pos;
    bool negative = false;
    if (pos < n && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    // Capped at 2^31 while reading, so it never overflows and -2^31 still fits.
    const std::int64_t cap = std::int64_t{kMax} + 1;
    std::int64_t magnitude = 0;
    for (; pos < n && isDigit(text[pos]); ++pos) {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > cap) magnitude = cap;
    }
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > kMax) return kMax;
    return static_cast<std::int32_t>(signedValue);
}

bool startsWithRangeKeyword(const WideString& text) {
    if (text.size() < kRangeKeywordLength) return false;
    for (std::size_t i = 0; i < kRangeKeywordLength; ++i) {
        if (text[i] != static_cast<WideChar>(kRangeKeyword[i])) return false;
    }
    return true;
}

void trimSpaces(WideString& s) {
    const std::size_t first = s.find_first_not_of(WideChar(' '));
    if (first == WideString::npos) {
        s.clear();
        return;
    }
    s.erase(s.find_last_not_of(WideChar(' ')) + 1);
    s.erase(0, first);
}

std::int32_t saturate(std::uint64_t n) {
    return n > std::uint64_t{kMax} ? kMax : static_cast<std::int32_t>(n);
}

}  // namespace

WideString widen(std::string_view text) {
    WideString wide;
    wide.reserve(text.size());
    for (char c : text) wide.push_back(static_cast<WideChar>(static_cast<unsigned char>(c)));
    return wide;
}

EnumListIterator::EnumListIterator(const WideString& text) : text_(text) {
    isRange_ = startsWithRangeKeyword(text_);
    if (!isRange_) return;
    // The character after the keyword is skipped unseen; for "range" alone
    // there is none, and substr's out_of_range is the error callers get.
    const WideString bounds = text_.substr(kRangeKeywordLength + 1);
    start_ = readNumber(bounds, 0);
    const std::size_t comma = bounds.find(WideChar(','));
    end_ = comma == WideString::npos ? start_ : readNumber(bounds, comma + 1);
}

void EnumListIterator::first() {
    if (isRange_) {
        // Set directly: the value before a low bound of -2^31 does not exist.
        item_.index = 0;
        item_.value = start_;
        settleRangeItem();
    } else {
        nextPos_ = 0;
        item_.index = -1;
        item_.value = -1;
        nextListItem();
    }
}

void EnumListIterator::next() {
    if (done()) {
        // A finished walk stays finished; only the running value moves on.
        item_.value = item_.value == kMax ? kMin : item_.value + 1;
        return;
    }
    if (item_.index == kMax) {
        item_.index = -1;
        return;
    }
    if (isRange_) {
        if (item_.value == kMax) {
            item_.index = -1;
            return;
        }
        ++item_.index;
        ++item_.value;
        settleRangeItem();
    } else {
        nextListItem();
    }
}

void EnumListIterator::settleRangeItem() {
    // Room for "-2147483648" and its terminator.
    char digits[12];
    const int length = std::snprintf(digits, sizeof digits, "%d", static_cast<int>(item_.value));
    item_.label.assign(digits, digits + length);
    if (item_.value > end_) item_.index = -1;
}

void EnumListIterator::nextListItem() {
    ++item_.index;
    item_.value = item_.value == kMax ? kMin : item_.value + 1;

    const std::size_t length = text_.size();
    if (nextPos_ >= length) {
        item_.index = -1;
        return;
    }
    std::size_t comma = text_.find(WideChar(','), nextPos_);
    if (comma == WideString::npos) comma = length;

    item_.label.assign(text_, nextPos_, comma - nextPos_);
    // An "=" in front separates nothing, so it stays part of the label.
    const std::size_t equals = item_.label.find(WideChar('='));
    if (equals != WideString::npos && equals > 0) {
        item_.value = readNumber(item_.label, equals + 1);
        item_.label.erase(equals);
    }
    nextPos_ = comma + 1;
    trimSpaces(item_.label);
}

std::int32_t EnumListIterator::itemCount() const {
    if (isRange_) {
        const std::int64_t span = std::int64_t{end_} - std::int64_t{start_};
        return saturate(static_cast<std::uint64_t>(span < 0 ? -span : span) + 1);
    }
    // A comma in front does not count: it opens the list rather than parting two items.
    std::uint64_t commas = 0;
    for (std::size_t i = text_.size(); i > 1; --i) {
        if (text_[i - 1] == ',') ++commas;
    }
    return saturate(commas + 1);
}

bool EnumListIterator::findValue(std::int32_t value) {
    for (first(); !done(); next()) {
        if (item_.value == value) return true;
    }
    return false;
}

bool EnumListIterator::findIndex(std::int32_t index) {
    if (index < 0) {
        // No walk reaches a negative index; end it here rather than walk it out.
        item_.index = -1;
        return false;
    }
    for (first(); !done(); next()) {
        if (item_.index == index) return true;
    }
    return false;
}

bool isValidEnumValue(const WideString& list, std::int32_t value) {
    return EnumListIterator(list).findValue(value);
}

std::int32_t forceValidEnumValue(const WideString& list, std::int32_t value) {
    EnumListIterator it(list);
    if (it.findValue(value)) return value;
    it.first();
    return it.done() ? 0 : it.current().value;
}

}  // namespace mv
