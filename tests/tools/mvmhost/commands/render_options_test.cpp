// --set and --event read without a module: where a label ends and a position starts, where
// an event's clock ends, and which fault of a text is named first.
#include <string>

#include <gtest/gtest.h>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/commands/render_options.h"

namespace mvmhost {
namespace {

std::string failure(void (*read)(const std::string&), const std::string& text) {
    try {
        read(text);
    } catch (const Error& error) {
        return error.what();
    }
    return "accepted";
}

struct RenderOptionTexts : ::testing::Test {};

TEST_F(RenderOptionTexts, ListSettings) {
    const struct {
        const char* text;
        const char* plug;
        const char* label;
        int64_t at;  // at 100 Hz; -1: from the start
    } rows[] = {
        {"reset@=3", "reset@", "3", -1},     {"reset@=3@220", "reset@", "3", 220},
        {"reset@=3@2s", "reset@", "3", 200}, {"reset@=3@1:30", "reset@", "3", 9000},
        {"mode=a@b", "mode", "a@b", -1},  // no position after the @: all of it is label
        {"mode=a@b@7", "mode", "a@b", 7},    {"mode=@7", "mode", "", 7},
        {"mode=x=y", "mode", "x=y", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const ListSetting setting = parseListSetting(row.text);
        EXPECT_EQ(setting.plug, row.plug);
        EXPECT_EQ(setting.label, row.label);
        EXPECT_EQ(setting.position ? setting.position->at(100) : -1, row.at);
    }
    const auto read = [](const std::string& text) { parseListSetting(text); };
    EXPECT_EQ(failure(read, "=3"), "--set =3: expected PLUG=LABEL or PLUG=LABEL@SAMPLE");
    EXPECT_EQ(failure(read, "reset@"), "--set reset@: expected PLUG=LABEL or PLUG=LABEL@SAMPLE");
}

TEST_F(RenderOptionTexts, Events) {
    const mv::ModuleEvent data = parseEvent("1:30:DataEvent:-2147483648:2147483647", 100, 9001);
    EXPECT_EQ(data.clock, 9000);
    EXPECT_EQ(data.type, mv::DataEvent);
    EXPECT_EQ(data.param1, INT32_MIN);
    EXPECT_EQ(data.param2, INT32_MAX);
    EXPECT_EQ(data.param3, 0);
    const mv::ModuleEvent typed = parseEvent("250ms:7:0:-1", 1000, 300);
    EXPECT_EQ(typed.clock, 250);
    EXPECT_EQ(typed.type, 7);
    EXPECT_EQ(typed.param2, -1);

    const auto read = [](const std::string& text) { parseEvent(text, 100, 10); };
    EXPECT_EQ(failure(read, "5:DataEvent:1"),
              "--event 5:DataEvent:1: expected CLOCK:TYPE:P1:P2 (e.g. 100:DataEvent:7:3)");
    EXPECT_EQ(failure(read, "x:1:2:3"),
              "--event x:1:2:3: the clock 'x' is not a sample count or a time (10s, 250ms, 2:30)");
    // A clock past the end is named before any bad number.
    EXPECT_EQ(failure(read, "1s:x:y:z"), "--event 1s:x:y:z: the render ends at sample 9");
    EXPECT_EQ(failure(read, "9:x:y:z"),
              "--event 9:x:y:z: the type 'x' is not a 32-bit whole number");
    EXPECT_EQ(failure(read, "9:1:y:z"), "--event 9:1:y:z: P1 'y' is not a 32-bit whole number");
    EXPECT_EQ(failure(read, "9:1:2:2147483648"),
              "--event 9:1:2:2147483648: P2 '2147483648' is not a 32-bit whole number");
}

}  // namespace
}  // namespace mvmhost
