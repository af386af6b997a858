#include "framework/enum_list/enum_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using mv::EnumListIterator;
using mv::WideChar;
using mv::widen;
using mv::WideString;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

std::string narrow(const WideString& w) {
    std::string s;
    for (auto c : w) s += c < 0x80 ? static_cast<char>(c) : '?';
    return s;
}

struct Item {
    std::int32_t index;
    std::int32_t value;
    std::string label;
    bool operator==(const Item& o) const {
        return index == o.index && value == o.value && label == o.label;
    }
};

void PrintTo(const Item& i, std::ostream* os) {
    *os << "(" << i.index << ", " << i.value << ", \"" << i.label << "\")";
}

Item currentOf(const EnumListIterator& it) {
    return {it.current().index, it.current().value, narrow(it.current().label)};
}

// Bounded so that a range walk that fails to end fails the test instead of hanging it.
std::vector<Item> walk(EnumListIterator& it) {
    std::vector<Item> items;
    for (it.first(); !it.done() && items.size() < 10000; it.next()) items.push_back(currentOf(it));
    return items;
}

struct WalkRow {
    std::string text;
    std::vector<Item> items;
};
void PrintTo(const WalkRow& r, std::ostream* os) { *os << '"' << r.text << '"'; }

class Walk : public testing::TestWithParam<WalkRow> {};

TEST_P(Walk, YieldsItemsInOrder) {
    EnumListIterator it(widen(GetParam().text));
    EXPECT_EQ(walk(it), GetParam().items);
    EXPECT_EQ(walk(it), GetParam().items) << "a second walk reads the text again";
}

INSTANTIATE_TEST_SUITE_P(
    ExplicitLists, Walk,
    testing::Values(
        WalkRow{"1=0,2=1,3=2", {{0, 0, "1"}, {1, 1, "2"}, {2, 2, "3"}}},
        WalkRow{"Off,On", {{0, 0, "Off"}, {1, 1, "On"}}},
        WalkRow{"Low=10,Mid,High=3", {{0, 10, "Low"}, {1, 11, "Mid"}, {2, 3, "High"}}},
        WalkRow{"  Slow = 2 ,Fast", {{0, 2, "Slow"}, {1, 3, "Fast"}}},
        WalkRow{"a,,b", {{0, 0, "a"}, {1, 1, ""}, {2, 2, "b"}}},
        WalkRow{"a,b,", {{0, 0, "a"}, {1, 1, "b"}}}, WalkRow{",a", {{0, 0, ""}, {1, 1, "a"}}},
        WalkRow{"", {}}, WalkRow{"=5,x", {{0, 0, "=5"}, {1, 1, "x"}}},
        WalkRow{"a=1=2,b", {{0, 1, "a"}, {1, 2, "b"}}},
        WalkRow{"   ,\tx ", {{0, 0, ""}, {1, 1, "\tx"}}},
        WalkRow{"Range 1,2", {{0, 0, "Range 1"}, {1, 1, "2"}}}, WalkRow{"rang", {{0, 0, "rang"}}},
        WalkRow{"a=2147483647,b,c", {{0, kMax, "a"}, {1, kMin, "b"}, {2, kMin + 1, "c"}}}));

INSTANTIATE_TEST_SUITE_P(
    Ranges, Walk,
    testing::Values(WalkRow{"range -3,3",
                            {{0, -3, "-3"},
                             {1, -2, "-2"},
                             {2, -1, "-1"},
                             {3, 0, "0"},
                             {4, 1, "1"},
                             {5, 2, "2"},
                             {6, 3, "3"}}},
                    WalkRow{"range:1,4", {{0, 1, "1"}, {1, 2, "2"}, {2, 3, "3"}, {3, 4, "4"}}},
                    WalkRow{"range 10,0", {}},
                    WalkRow{"range \t+2 ,\n 3", {{0, 2, "2"}, {1, 3, "3"}}},
                    WalkRow{"range 5", {{0, 5, "5"}}}, WalkRow{"range -7;9", {{0, -7, "-7"}}},
                    WalkRow{"range ", {{0, 0, "0"}}},
                    WalkRow{"range 2147483646,2147483647",
                            {{0, kMax - 1, "2147483646"}, {1, kMax, "2147483647"}}},
                    WalkRow{"range 2147483647,2147483647", {{0, kMax, "2147483647"}}},
                    WalkRow{"range 99999999999,99999999999", {{0, kMax, "2147483647"}}},
                    WalkRow{"range -2147483648,-2147483647",
                            {{0, kMin, "-2147483648"}, {1, kMin + 1, "-2147483647"}}}));

struct NumberRow {
    std::string valueText;
    std::int32_t value;
};
void PrintTo(const NumberRow& r, std::ostream* os) { *os << '"' << r.valueText << '"'; }

class ValueText : public testing::TestWithParam<NumberRow> {};

TEST_P(ValueText, ReadsLikeBase10Strtol) {
    EnumListIterator it(widen("a=" + GetParam().valueText));
    it.first();
    ASSERT_FALSE(it.done());
    EXPECT_EQ(it.current().value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ValueText,
    testing::Values(NumberRow{"x", 0}, NumberRow{"", 0}, NumberRow{"12abc", 12},
                    NumberRow{"007", 7}, NumberRow{"1 2", 1}, NumberRow{"+5", 5},
                    NumberRow{"--5", 0}, NumberRow{"- 5", 0}, NumberRow{" \t\n\v\f\r-7", -7},
                    NumberRow{"\xa0"
                              "5",
                              0},
                    NumberRow{"2147483647", kMax}, NumberRow{"2147483648", kMax},
                    NumberRow{"99999999999", kMax}, NumberRow{"-2147483648", kMin},
                    NumberRow{"-2147483649", kMin}, NumberRow{"-99999999999999999999999", kMin}));

struct CountRow {
    std::string text;
    std::int32_t count;
};
void PrintTo(const CountRow& r, std::ostream* os) { *os << '"' << r.text << '"'; }

class ItemCount : public testing::TestWithParam<CountRow> {};

TEST_P(ItemCount, CountsFromTheText) {
    EXPECT_EQ(EnumListIterator(widen(GetParam().text)).itemCount(), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Rows, ItemCount,
                         testing::Values(CountRow{"1=0,2=1,3=2", 3}, CountRow{"a,b,", 3},
                                         CountRow{",a", 1}, CountRow{"", 1}, CountRow{",,", 2},
                                         CountRow{"range 0,127", 128}, CountRow{"range 10,0", 11},
                                         CountRow{"range 5", 1},
                                         CountRow{"range -1073741824,1073741822", kMax},
                                         CountRow{"range -1073741824,1073741823", kMax},
                                         CountRow{"range -2147483648,2147483647", kMax},
                                         CountRow{"range 2147483647,-2147483648", kMax}));

enum class Find { Value, Index };

struct FindRow {
    std::string text;
    Find by;
    std::int32_t sought;
    bool found;
    Item at;  // where the iterator stands when found
};
void PrintTo(const FindRow& r, std::ostream* os) {
    *os << '"' << r.text << "\" " << (r.by == Find::Value ? "value " : "index ") << r.sought;
}

class Finding : public testing::TestWithParam<FindRow> {};

TEST_P(Finding, StandsOnFirstMatchOrEndsTheWalk) {
    const FindRow& row = GetParam();
    EnumListIterator it(widen(row.text));
    it.first();
    it.next();  // a find starts over from wherever the walk stands
    const bool found = row.by == Find::Value ? it.findValue(row.sought) : it.findIndex(row.sought);
    EXPECT_EQ(found, row.found);
    if (row.found)
        EXPECT_EQ(currentOf(it), row.at);
    else
        EXPECT_TRUE(it.done());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Finding,
    testing::Values(
        FindRow{"1=0,2=1,3=2", Find::Value, 2, true, {2, 2, "3"}},
        FindRow{"1=0,2=1,3=2", Find::Index, 1, true, {1, 1, "2"}},
        FindRow{"1=0,2=1,3=2", Find::Value, 0, true, {0, 0, "1"}},
        FindRow{"1=0,2=1,3=2", Find::Value, 3, false, {}},
        FindRow{"a=4,b=4,c", Find::Value, 4, true, {0, 4, "a"}},
        FindRow{"a=5,b=0,c", Find::Value, 1, true, {2, 1, "c"}},
        FindRow{"range 0,127", Find::Index, 5, true, {5, 5, "5"}},
        FindRow{"range 0,127", Find::Index, 128, false, {}},
        FindRow{"range 0,127", Find::Index, -1, false, {}},
        FindRow{"range -3,3", Find::Index, 0, true, {0, -3, "-3"}},
        FindRow{"range 2147483640,2147483647", Find::Value, kMax, true, {7, kMax, "2147483647"}},
        FindRow{"range 2147483640,2147483647", Find::Index, 8, false, {}}));

struct ValidateRow {
    std::string text;
    std::int32_t value;
    bool valid;
    std::int32_t forced;
};
void PrintTo(const ValidateRow& r, std::ostream* os) { *os << '"' << r.text << "\" " << r.value; }

class Validate : public testing::TestWithParam<ValidateRow> {};

TEST_P(Validate, ChecksAndForcesValues) {
    const WideString text = widen(GetParam().text);
    EXPECT_EQ(mv::isValidEnumValue(text, GetParam().value), GetParam().valid);
    EXPECT_EQ(mv::forceValidEnumValue(text, GetParam().value), GetParam().forced);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Validate,
    testing::Values(
        ValidateRow{"1=0,2=1,3=2", 1, true, 1}, ValidateRow{"1=0,2=1,3=2", 3, false, 0},
        ValidateRow{"1=0,2=1,3=2", 7, false, 0}, ValidateRow{"Low=10,Mid,High=3", 11, true, 11},
        ValidateRow{"Low=10,Mid,High=3", 4, false, 10}, ValidateRow{"range 0,127", 127, true, 127},
        ValidateRow{"range 0,127", -1, false, 0}, ValidateRow{"range 0,127", 128, false, 0},
        ValidateRow{"range 0,127", 200, false, 0}, ValidateRow{"range 3,5", 9, false, 3},
        ValidateRow{"range 10,0", 5, false, 0}, ValidateRow{"", 0, false, 0},
        ValidateRow{"", -1, false, 0},
        ValidateRow{"range 2147483647,2147483647", kMax, true, kMax}));

class FinishedWalk : public testing::TestWithParam<std::string> {};

TEST_P(FinishedWalk, StaysFinished) {
    EnumListIterator it(widen(GetParam()));
    walk(it);
    ASSERT_TRUE(it.done());
    for (int i = 0; i < 3; ++i) {
        it.next();
        EXPECT_TRUE(it.done());
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FinishedWalk,
                         testing::Values("Off,On", "a,b,", "", "range 1,2", "range 10,0",
                                         "range 2147483647,2147483647"));

TEST(RangeKeyword, AloneIsAnOutOfRangeError) {
    const WideString text = widen("range");
    EXPECT_THROW(EnumListIterator{text}, std::out_of_range);
    EXPECT_THROW(mv::isValidEnumValue(text, 0), std::out_of_range);
    EXPECT_THROW(mv::forceValidEnumValue(text, 0), std::out_of_range);
}

TEST(Iterator, KeepsItsOwnCopyOfTheText) {
    WideString text = widen("Off,On");
    EnumListIterator it(text);
    text.assign(text.size(), WideChar(','));
    EXPECT_EQ(walk(it), (std::vector<Item>{{0, 0, "Off"}, {1, 1, "On"}}));
}

TEST(Iterator, WalksOnFromAFoundItem) {
    EnumListIterator it(widen("Low=10,Mid,High=3"));
    ASSERT_TRUE(it.findValue(10));
    it.next();
    EXPECT_EQ(currentOf(it), (Item{1, 11, "Mid"}));
}

TEST(CounterResetList, WidenedReadsAs999Items) {
    std::string text;
    for (int k = 0; k < 999; ++k)
        text += (k ? "," : "") + std::to_string(k + 1) + "=" + std::to_string(k);
    EnumListIterator it(widen(text));
    EXPECT_EQ(it.itemCount(), 999);
    const std::vector<Item> items = walk(it);
    ASSERT_EQ(items.size(), 999u);
    for (int k = 0; k < 999; ++k) EXPECT_EQ(items[k], (Item{k, k, std::to_string(k + 1)}));
    EXPECT_FALSE(mv::isValidEnumValue(widen(text), -1));
    EXPECT_FALSE(mv::isValidEnumValue(widen(text), 999));
    EXPECT_EQ(mv::forceValidEnumValue(widen(text), 999), 0);
}

TEST(Widen, MapsEachByteToOneCodeUnit) {
    const WideString w = widen("A=\xe9");
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0], WideChar('A'));
    EXPECT_EQ(w[2], WideChar(0xe9));
}

}  // namespace
