// The host's reading of list texts: labels to values and back, counts and ends.
#include <string>

#include <gtest/gtest.h>

#include "modules/count_reset/count_reset_module.h"
#include "tools/mvmhost/runtime/list_text.h"

namespace mvmhost {
namespace {

struct ListTexts : ::testing::Test {};

TEST_F(ListTexts, LabelsValuesAndEnds) {
    const struct {
        std::string text;
        const char* label;
        std::optional<int32_t> value;
        int64_t count;
        std::optional<std::string> first, last;
    } rows[] = {
        {"1=0,2=1,3=2", "3", 2, 3, "1", "3"},
        {"Off,On", "On", 1, 2, "Off", "On"},
        {"Low=10,Mid,High=3", "Mid", 11, 3, "Low", "High"},
        {"  Slow = 2 ,Fast", "Fast", 3, 2, "Slow", "Fast"},
        {"a,,b", "", 1, 3, "a", "b"},
        {"a,b,", "b", 1, 2, "a", "b"},
        {",a", "a", 1, 2, "", "a"},
        {"=5,x", "=5", 0, 2, "=5", "x"},
        {"a=12abc", "a", 12, 1, "a", "a"},
        {"a=99999999999", "a", INT32_MAX, 1, "a", "a"},
        {"dup=1,dup=2", "dup", 1, 2, "dup", "dup"},  // the first of equal labels
        {"Off,On", "off", std::nullopt, 2, "Off", "On"},
        {"", "", std::nullopt, 0, std::nullopt, std::nullopt},
        {"range 0,127", "127", 127, 128, "0", "127"},
        {"range -3,3", "-3", -3, 7, "-3", "3"},
        {"range:1,4", "4", 4, 4, "1", "4"},
        {"range 0,127", "128", std::nullopt, 128, "0", "127"},
        {"range 0,127", "07", std::nullopt, 128, "0", "127"},
        {"range 10,0", "5", std::nullopt, 0, std::nullopt, std::nullopt},
        {"range 5", "5", 5, 1, "5", "5"},
        {"Range 1,2", "Range 1", 0, 2, "Range 1", "2"},
        {mv::buildResetList(), "8", 7, 999, "1", "999"},
        {mv::buildResetList(), "999", 998, 999, "1", "999"},
        {mv::buildResetList(), "0", std::nullopt, 999, "1", "999"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40) + " / " + row.label);
        const ListText list(row.text);
        EXPECT_EQ(list.valueOf(row.label), row.value);
        EXPECT_EQ(list.count(), row.count);
        EXPECT_EQ(list.firstLabel(), row.first);
        EXPECT_EQ(list.lastLabel(), row.last);
        if (row.value) {
            EXPECT_EQ(list.labelOf(*row.value), row.label);
        }
    }
}

TEST_F(ListTexts, NumbersAsTheFormatReadsThem) {
    const struct {
        const char* text;
        int32_t value;
    } rows[] = {{"7", 7},
                {"  -12x", -12},
                {"+3", 3},
                {"", 0},
                {"x1", 0},
                {"2147483647", INT32_MAX},
                {"2147483648", INT32_MAX},
                {"-2147483649", INT32_MIN},
                {"99999999999999999999", INT32_MAX}};
    for (const auto& row : rows) EXPECT_EQ(readListNumber(row.text), row.value) << row.text;
}

}  // namespace
}  // namespace mvmhost
