// The counter's six plug descriptions and its reset list, as a host reads them (opcode 6).
#include <algorithm>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "framework/enum_list/enum_list.h"
#include "modules/count_reset/count_reset_module.h"
#include "tests/support/recording_host.h"

namespace mv {
namespace {

struct PlugDescriptions : ::testing::Test {
    test::RecordingHost host;
    test::ModuleInstance instance{host};
    CountResetModule& counter = instance.module<CountResetModule>();

    PlugInfo describe(int32_t index, intptr_t* answer = nullptr, uint8_t fill = 0) {
        PlugInfo info;
        std::memset(&info, fill, sizeof info);
        const intptr_t result = instance.dispatch(OpGetPlugProperties, index, 0, &info);
        if (answer) *answer = result;
        return info;
    }
};

TEST_F(PlugDescriptions, SixPlugsAsTheHostSeesThem) {
    const struct {
        const char* name;
        int32_t direction, datatype;
        const char* defaultValue;
        void* variable;
    } rows[] = {
        {"upCOUNT", 0, 5, "0", &counter.upCountBuffer},
        {"reset@", 0, 0, "7", &counter.resetValue},
        {"upZERO", 0, 5, "0", &counter.upZeroBuffer},
        {"bySTEP", 0, 5, "0.1", &counter.byStepBuffer},
        {"OUTclimb", 1, 5, nullptr, &counter.outClimbBuffer},
        {"RESETpulse", 1, 5, nullptr, &counter.resetPulseBuffer},
    };
    for (int32_t i = 0; i < 6; ++i) {
        intptr_t answer;
        const PlugInfo info = describe(i, &answer);
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(answer, 1);
        EXPECT_STREQ(info.name, rows[i].name);
        EXPECT_EQ(info.direction, rows[i].direction);
        EXPECT_EQ(info.datatype, rows[i].datatype);
        EXPECT_EQ(info.variable, rows[i].variable);
        if (rows[i].defaultValue)
            EXPECT_STREQ(info.defaultValue, rows[i].defaultValue);
        else
            EXPECT_EQ(info.defaultValue, nullptr);
        EXPECT_EQ(info.listText != nullptr, i == ResetAt);
        EXPECT_EQ(info.flags, 0);
        EXPECT_EQ(info.reserved, 0);
    }
}

TEST_F(PlugDescriptions, FieldsNotDescribedKeepTheHostsValues) {
    const PlugInfo out = describe(OutClimb, nullptr, 0x5A);
    PlugInfo filled;
    std::memset(&filled, 0x5A, sizeof filled);
    EXPECT_EQ(out.defaultValue, filled.defaultValue);
    EXPECT_EQ(out.listText, filled.listText);
    EXPECT_EQ(out.flags, filled.flags);
    EXPECT_EQ(out.reserved, filled.reserved);
    const PlugInfo up = describe(UpCount, nullptr, 0x5A);
    EXPECT_EQ(up.listText, filled.listText);
}

TEST_F(PlugDescriptions, IndicesOutsideTheSixAnswerZeroAndLeaveTheRecord) {
    for (int32_t index : {6, 7, -1, INT32_MIN, INT32_MAX}) {
        intptr_t answer;
        const PlugInfo info = describe(index, &answer, 0xEE);
        PlugInfo filled;
        std::memset(&filled, 0xEE, sizeof filled);
        EXPECT_EQ(answer, 0) << index;
        EXPECT_EQ(std::memcmp(&info, &filled, sizeof info), 0) << index;
    }
    // The list is built by any description request, whatever the index.
    EXPECT_EQ(std::strlen(buildResetList()), 7773u);
}

TEST_F(PlugDescriptions, ResetListIsBuiltOnceAndShared) {
    const PlugInfo first = describe(ResetAt);
    test::ModuleInstance other(host);
    PlugInfo again;
    std::memset(&again, 0, sizeof again);
    other.dispatch(OpGetPlugProperties, ResetAt, 0, &again);
    EXPECT_EQ(first.listText, again.listText);

    const std::string list = first.listText;
    EXPECT_EQ(list.size(), 7773u);
    EXPECT_EQ(list.rfind("1=0,2=1,3=2,", 0), 0u);
    EXPECT_EQ(list.substr(list.size() - 15), "998=997,999=998");
    EXPECT_EQ(std::count(list.begin(), list.end(), ','), 998);
    EXPECT_EQ(std::count(list.begin(), list.end(), '='), 999);
}

TEST_F(PlugDescriptions, EveryItemIsItsValuePlusOne) {
    std::string list = describe(ResetAt).listText;
    int32_t expectedValue = 0;
    size_t from = 0;
    while (from <= list.size()) {
        size_t comma = list.find(',', from);
        if (comma == std::string::npos) comma = list.size();
        const std::string item = list.substr(from, comma - from);
        const size_t eq = item.find('=');
        ASSERT_NE(eq, std::string::npos) << item;
        EXPECT_EQ(std::stoi(item.substr(0, eq)), expectedValue + 1) << item;
        EXPECT_EQ(std::stoi(item.substr(eq + 1)), expectedValue) << item;
        ++expectedValue;
        from = comma + 1;
    }
    EXPECT_EQ(expectedValue, 999);
}

TEST_F(PlugDescriptions, ResetListReadsAsTheFrameworksListReader) {
    const WideString list = widen(describe(ResetAt).listText);
    EnumListIterator items(list);
    EXPECT_EQ(items.itemCount(), 999);
    const struct {
        int32_t value;
        const char* label;
    } rows[] = {{7, "8"}, {0, "1"}, {998, "999"}};
    for (const auto& row : rows) {
        ASSERT_TRUE(items.findValue(row.value)) << row.value;
        EXPECT_EQ(items.current().label, widen(row.label));
    }
    for (int32_t value : {-1, 999, 1000, INT16_MIN}) EXPECT_FALSE(isValidEnumValue(list, value));
    EXPECT_EQ(forceValidEnumValue(list, 5000), 0);
}

}  // namespace
}  // namespace mv
