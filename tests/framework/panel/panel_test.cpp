// The panel record, its dispatcher, the panel-side requests and the plug handle, driven through
// the record as a host drives them, with the recording host answering the requests.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/panel/panel_base.h"
#include "tests/support/recording_host.h"

namespace mv {
namespace {

void* pointer(intptr_t word) { return reinterpret_cast<void*>(word); }
intptr_t address(const void* ptr) { return reinterpret_cast<intptr_t>(ptr); }

// One hook call: its name and its arguments in the hook's own order (unused ones 0).
struct Hook {
    std::string name;
    int32_t a = 0;  // a flag, an index or a value: the hook's first integer
    int32_t b = 0;  // its second integer
    intptr_t ptr = 0;
    float opt = 0.0f;
    bool operator==(const Hook& o) const {
        return name == o.name && a == o.a && b == o.b && ptr == o.ptr &&
               std::memcmp(&opt, &o.opt, sizeof opt) == 0;  // bit for bit
    }
};
std::ostream& operator<<(std::ostream& out, const Hook& h) {
    return out << h.name << "(" << h.a << ", " << h.b << ", " << h.ptr << ", " << h.opt << ")";
}
using Hooks = std::vector<Hook>;

// Logs which hook ran with which arguments; the log outlives the panel.
class ProbePanel : public PanelBase {
public:
    ProbePanel(HostCallback callback, intptr_t hostHandle, Hooks& log)
        : PanelBase(callback, hostHandle), log(log) {}
    ~ProbePanel() override { log.push_back({"destroyed"}); }

    Hooks& log;
    bool answer10 = false;
    PanelPlugHandle seen{};  // a copy of the handle opcode 7 passed
    PanelPlugHandle* seenAt = nullptr;
    std::function<void(PanelPlugHandle*)> during7;  // runs inside onOpcode7

    void onOpcode0(bool on) override { log.push_back({"onOpcode0", on}); }
    void close() override { log.push_back({"close"}); }
    void onOpcode2(int32_t index, void* ptr) override {
        log.push_back({"onOpcode2", index, 0, address(ptr)});
    }
    void onOpcode3(void* ptr, float opt, IndexValuePair p) override {
        pair("onOpcode3", ptr, opt, p);
    }
    void onOpcode4(void* ptr, float opt, IndexValuePair p) override {
        pair("onOpcode4", ptr, opt, p);
    }
    void onOpcode5(void* ptr, float opt, IndexValuePair p) override {
        pair("onOpcode5", ptr, opt, p);
    }
    void onOpcode8(void* ptr) override { log.push_back({"onOpcode8", 0, 0, address(ptr)}); }
    void onOpcode9(void* ptr) override { log.push_back({"onOpcode9", 0, 0, address(ptr)}); }
    bool onOpcode10() override {
        log.push_back({"onOpcode10"});
        return answer10;
    }
    void onOpcode11(int32_t index) override { log.push_back({"onOpcode11", index}); }
    void onOpcode12(int32_t index) override { log.push_back({"onOpcode12", index}); }
    void onOpcode6(int32_t value, int32_t index, void* ptr) override {
        log.push_back({"onOpcode6", value, index, address(ptr)});
    }
    void onOpcode7(PanelPlugHandle* handle) override {
        log.push_back({"onOpcode7", handle->plugIndex});
        seen = *handle;
        seenAt = handle;
        if (during7) during7(handle);
    }

private:
    void pair(const char* name, void* ptr, float opt, IndexValuePair p) {
        log.push_back({name, p.index, p.value, address(ptr), opt});
    }
};

struct Panel : ::testing::Test {
    test::RecordingHost host;
    Hooks log;
    ProbePanel* panel = new ProbePanel(test::RecordingHost::callback, host.handle(), log);
    PanelRecord* record = panel->getRecord();

    intptr_t dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) {
        return record->dispatcherEntry(record, opcode, index, value, ptr, opt);
    }
    void TearDown() override {
        if (panel) dispatch(PanelOpClose);
    }
    // The single request the last action made.
    const test::HostCall& onlyCall() {
        EXPECT_EQ(host.calls.size(), 1u);
        return host.calls.front();
    }
};

// --- the record ---------------------------------------------------------------------------

TEST_F(Panel, NewRecordReadsMagicVersionEntryHandleInstanceAndFiveZeros) {
    const char* bytes = reinterpret_cast<const char*>(record);
    auto word = [&](size_t offset) {
        uint32_t w;
        std::memcpy(&w, bytes + offset, sizeof w);
        return w;
    };
    auto address = [&](size_t offset) {
        intptr_t a;
        std::memcpy(&a, bytes + offset, sizeof a);
        return a;
    };
    EXPECT_EQ(sizeof(PanelRecord), at(40, 56));
    EXPECT_EQ(word(0), 0x4D56504Du);
    EXPECT_EQ(std::memcmp(bytes, "\x4D\x50\x56\x4D", 4), 0) << "MVPM reads 4D 50 56 4D in memory";
    EXPECT_EQ(word(4), 1u);
    EXPECT_EQ(address(8), reinterpret_cast<intptr_t>(record->dispatcherEntry));
    EXPECT_NE(record->dispatcherEntry, nullptr);
    EXPECT_EQ(address(at(12, 16)), host.handle());
    EXPECT_EQ(address(at(16, 24)), reinterpret_cast<intptr_t>(static_cast<PanelBase*>(panel)));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(word(at(20, 32) + 4 * i), 0u) << "reserved word " << i;
    EXPECT_TRUE(host.calls.empty()) << "construction makes no request";
    EXPECT_TRUE(log.empty());
}

TEST_F(Panel, EveryPanelHasItsOwnRecordAndTheSameEntry) {
    test::RecordingHost otherHost;
    Hooks otherLog;
    auto* other = new ProbePanel(test::RecordingHost::callback, otherHost.handle(), otherLog);
    PanelRecord* otherRecord = other->getRecord();
    EXPECT_NE(otherRecord, record);
    EXPECT_EQ(otherRecord->dispatcherEntry, record->dispatcherEntry);
    EXPECT_EQ(otherRecord->hostHandle, otherHost.handle());
    EXPECT_EQ(otherRecord->instance, static_cast<PanelBase*>(other));
    // The shared entry reaches the panel named by the record it is given.
    EXPECT_EQ(record->dispatcherEntry(otherRecord, PanelOp11, 9, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(otherLog, (Hooks{{"onOpcode11", 9}}));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(otherRecord->dispatcherEntry(otherRecord, PanelOpClose, 0, 0, nullptr, 0.0f), 1);
}

// --- the dispatcher -----------------------------------------------------------------------

TEST_F(Panel, Opcode0PassesTrueOnlyForIndexOne) {
    const struct {
        int32_t index;
        bool on;
    } rows[] = {{1, true}, {0, false}, {2, false}, {-1, false}, {INT32_MIN, false}};
    for (const auto& row : rows) {
        log.clear();
        EXPECT_EQ(dispatch(PanelOp0, row.index, 5, pointer(6), 7.0f), 0) << row.index;
        EXPECT_EQ(log, (Hooks{{"onOpcode0", row.on}})) << row.index;
    }
}

TEST_F(Panel, OpcodesPassTheirArgumentsInTheHooksOrder) {
    const float f = 2.5f;
    const struct {
        int32_t opcode;
        int32_t index, value;
        intptr_t ptr;
        float opt;
        Hook hook;
    } rows[] = {
        {PanelOp2, 7, 8, 99, f, {"onOpcode2", 7, 0, 99}},
        {PanelOp3, 10, 20, 77, f, {"onOpcode3", 10, 20, 77, f}},
        {PanelOp4, -1, INT32_MAX, 78, -0.0f, {"onOpcode4", -1, INT32_MAX, 78, -0.0f}},
        {PanelOp5, 0, -3, 0, 1e-30f, {"onOpcode5", 0, -3, 0, 1e-30f}},
        {PanelOp6, 1, 2, 55, f, {"onOpcode6", 2, 1, 55}},
        {PanelOp8, 3, 4, 66, f, {"onOpcode8", 0, 0, 66}},
        {PanelOp9, 3, 4, 67, f, {"onOpcode9", 0, 0, 67}},
        {PanelOp11, -8, 4, 68, f, {"onOpcode11", -8}},
        {PanelOp12, 12, 4, 69, f, {"onOpcode12", 12}},
    };
    for (const auto& row : rows) {
        log.clear();
        EXPECT_EQ(dispatch(row.opcode, row.index, row.value, pointer(row.ptr), row.opt), 0)
            << row.opcode;
        EXPECT_EQ(log, Hooks{row.hook}) << row.opcode;
    }
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(Panel, Opcode7HandsAHandleOnThePlugThatLivesForTheCall) {
    PanelPlugHandle* shared = panel->plugHandle(11);
    host.answers[panelGetPlugText] = reinterpret_cast<intptr_t>("seven");
    std::string textDuring;
    panel->during7 = [&](PanelPlugHandle* handle) { textDuring = handle->getText(); };

    EXPECT_EQ(dispatch(PanelOp7, 4, 5, pointer(6), 7.0f), 0);
    EXPECT_EQ(log, (Hooks{{"onOpcode7", 4}}));
    EXPECT_EQ(panel->seen.plugIndex, 4);
    EXPECT_EQ(panel->seen.panel, static_cast<PanelBase*>(panel));
    EXPECT_NE(panel->seenAt, shared) << "not the library's shared handle";
    EXPECT_EQ(shared->plugIndex, 11) << "the shared handle is left alone";
    // The hook can use the handle: its request names plug 4 and this panel's record.
    EXPECT_EQ(textDuring, "seven");
    const test::HostCall& call = onlyCall();
    EXPECT_EQ(call.record, record);
    EXPECT_EQ(call.request, panelGetPlugText);
    EXPECT_EQ(call.index, 4);
}

TEST_F(Panel, Opcode10AnswersOneOnlyWhenTheHookAnswersTrue) {
    EXPECT_EQ(dispatch(PanelOp10, 1, 1, pointer(1), 1.0f), 0);
    panel->answer10 = true;
    EXPECT_EQ(dispatch(PanelOp10), 1);
    EXPECT_EQ(log, (Hooks{{"onOpcode10"}, {"onOpcode10"}}));
}

TEST_F(Panel, OtherOpcodesAnswerZeroAndDoNothing) {
    const PanelRecord before = *record;
    for (int32_t opcode : {13, 14, 100, -1, -2, INT32_MIN, INT32_MAX})
        EXPECT_EQ(dispatch(opcode, 1, 2, record, 3.0f), 0) << opcode;
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(std::memcmp(&before, record, sizeof before), 0);
}

TEST_F(Panel, CloseRunsCloseThenDestroysThePanelBeforeReturning) {
    EXPECT_EQ(dispatch(PanelOpClose, 1, 2, pointer(3), 4.0f), 1);
    EXPECT_EQ(log, (Hooks{{"close"}, {"destroyed"}}));
    EXPECT_TRUE(host.calls.empty());
    panel = nullptr;  // released: the sanitizer build reports a leak or a second release
}

// A PanelBase itself: every default hook does nothing, and opcode 10's answers false.
TEST(PanelDefaults, EveryOpcodeAnswersZeroWithoutARequestAndCloseAnswersOne) {
    test::RecordingHost host;
    auto* panel = new PanelBase(test::RecordingHost::callback, host.handle());
    PanelRecord* record = panel->getRecord();
    int dummy = 0;
    for (int32_t opcode = 0; opcode <= 12; ++opcode) {
        if (opcode == PanelOpClose) continue;
        EXPECT_EQ(record->dispatcherEntry(record, opcode, 1, 2, &dummy, 3.0f), 0) << opcode;
    }
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(record->dispatcherEntry(record, PanelOpClose, 0, 0, nullptr, 0.0f), 1);
}

// --- requests -----------------------------------------------------------------------------

TEST_F(Panel, CallHostPassesThePanelRecordArgumentsAndAnswerThrough) {
    host.answers[42] = -7;
    EXPECT_EQ(panel->callHost(42, 1, 2, pointer(3), 4.5f), -7);
    EXPECT_EQ(onlyCall().args(), (test::RequestArgs{record, 42, 1, 2, 3, 4.5f}));
}

TEST_F(Panel, NamedRequestsPassTheirArgumentsUnchanged) {
    host.respond = [](const test::HostCall& call) { return intptr_t{call.request * 10}; };
    panel->panelHostRequest8(-3, 9, pointer(81));
    EXPECT_EQ(panel->panelHostRequest18(pointer(181)), 180) << "the answer is handed back";
    EXPECT_EQ(panel->panelHostRequest19(pointer(191)), 190);
    EXPECT_TRUE(panel->panelHostQuery20(pointer(201)));
    const test::RequestArgs expected[] = {{record, panelHostRequest8, -3, 9, 81, 0},
                                          {record, panelHostRequest18, 0, 0, 181, 0},
                                          {record, panelHostRequest19, 0, 0, 191, 0},
                                          {record, panelHostQuery20, 0, 0, 201, 0}};
    ASSERT_EQ(host.calls.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(host.calls[i].args(), expected[i]);
}

TEST_F(Panel, Query20TakesNonZeroAsTrue) {
    const struct {
        intptr_t answer;
        bool truth;
    } rows[] = {{0, false}, {1, true}, {-1, true}, {2, true}};
    for (const auto& row : rows) {
        host.answers[panelHostQuery20] = row.answer;
        EXPECT_EQ(panel->panelHostQuery20(nullptr), row.truth) << row.answer;
    }
}

TEST_F(Panel, PlugHandleIsOneRecordForTheWholeLibrary) {
    PanelPlugHandle* first = panel->plugHandle(3);
    EXPECT_EQ(first->plugIndex, 3);
    PanelPlugHandle* second = panel->plugHandle(5);
    EXPECT_EQ(second, first);
    EXPECT_EQ(first->plugIndex, 5);
    EXPECT_EQ(first->panel, static_cast<PanelBase*>(panel));

    Hooks otherLog;
    ProbePanel other(test::RecordingHost::callback, host.handle(), otherLog);
    EXPECT_EQ(other.plugHandle(6), first);
    EXPECT_EQ(first->plugIndex, 6);
    EXPECT_EQ(first->panel, static_cast<PanelBase*>(&other));
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(Panel, TextsAreSentAndCopied) {
    char hostText[] = "4.7k";
    host.answers[panelGetPlugText] = reinterpret_cast<intptr_t>(hostText);
    const std::string got = panel->plugHandle(2)->getText();
    std::strcpy(hostText, "gone");
    EXPECT_EQ(got, "4.7k") << "a copy, not the host's text";
    const test::HostCall& get = onlyCall();
    EXPECT_EQ(get.record, record);
    EXPECT_EQ(get.request, panelGetPlugText);
    EXPECT_EQ(get.index, 2);
    EXPECT_EQ(get.value | get.ptr, 0);

    host.calls.clear();
    const std::string text = "hello";
    std::string readDuring;
    host.respond = [&](const test::HostCall& call) {
        readDuring = reinterpret_cast<const char*>(call.ptr);
        return intptr_t{33};
    };
    EXPECT_EQ(panel->plugHandle(8)->setText(text), 33) << "the host's answer, handed back";
    EXPECT_EQ(readDuring, "hello");
    const test::HostCall& set = onlyCall();
    EXPECT_EQ(set.request, panelSetPlugText);
    EXPECT_EQ(set.index, 8);
    EXPECT_EQ(set.value, 0);
    EXPECT_EQ(set.ptr, reinterpret_cast<intptr_t>(text.c_str())) << "the string's own characters";
    EXPECT_EQ(set.opt, 0.0f);
}

TEST_F(Panel, ValuesAreReadThroughAWordTheHostFills) {
    auto fill = [&](uint32_t bits) {
        host.respond = [bits](const test::HostCall& call) {
            if (call.request == panelGetPlugValue) std::memcpy(pointer(call.ptr), &bits, 4);
            return intptr_t{0};
        };
    };
    fill(static_cast<uint32_t>(-5));
    EXPECT_EQ(panel->plugHandle(1)->getInt(), -5);
    const test::HostCall& call = onlyCall();
    EXPECT_EQ(call.request, panelGetPlugValue);
    EXPECT_EQ(call.index, 1);
    EXPECT_EQ(call.value, 0);
    EXPECT_NE(call.ptr, 0);
    EXPECT_EQ(call.opt, 0.0f);

    host.calls.clear();
    fill(0x3E800000u);  // 0.25f
    EXPECT_EQ(panel->plugHandle(2)->getFloat(), 0.25f);
    EXPECT_EQ(onlyCall().index, 2);
}

TEST_F(Panel, ValuesAreSetInValueOrOpt) {
    host.answers[panelSetPlugValue] = 5;
    EXPECT_EQ(panel->plugHandle(3)->setInt(-123), 5);
    EXPECT_EQ(panel->plugHandle(4)->setFloat(0.75f), 5);
    ASSERT_EQ(host.calls.size(), 2u);
    const test::HostCall& asInt = host.calls[0];
    EXPECT_EQ(asInt.record, record);
    EXPECT_EQ(asInt.request, panelSetPlugValue);
    EXPECT_EQ(asInt.index, 3);
    EXPECT_EQ(asInt.value, -123);
    EXPECT_EQ(asInt.ptr, 0);
    EXPECT_EQ(asInt.opt, 0.0f);
    const test::HostCall& asFloat = host.calls[1];
    EXPECT_EQ(asFloat.request, panelSetPlugValue);
    EXPECT_EQ(asFloat.index, 4);
    EXPECT_EQ(asFloat.value, 0);
    EXPECT_EQ(asFloat.ptr, 0);
    EXPECT_EQ(asFloat.opt, 0.75f);
}

// Writes `text` (its zero included) into the buffer of the second request 17, after answering
// `count` to the first.
void serveWideText(test::RecordingHost& host, int32_t count, const WideString& text) {
    host.respond = [count, text](const test::HostCall& call) -> intptr_t {
        if (call.request != panelGetPlugWideText) return 0;
        if (!call.ptr) return count;
        auto* buffer = static_cast<WideChar*>(pointer(call.ptr));
        const size_t n = std::min(text.size(), static_cast<size_t>(call.value));
        std::memcpy(buffer, text.data(), n * sizeof(WideChar));  // may carry no zero
        return 0;
    };
}

TEST_F(Panel, WideTextAsksForTheCountThenForTheText) {
    const WideString hello = {'H', 'e', 'l', 'l', 'o', 0};
    serveWideText(host, 6, hello);
    EXPECT_EQ(panel->plugHandle(9)->getWideText(), (WideString{'H', 'e', 'l', 'l', 'o'}));
    ASSERT_EQ(host.calls.size(), 2u);
    const test::HostCall& first = host.calls[0];
    EXPECT_EQ(first.record, record);
    EXPECT_EQ(first.request, panelGetPlugWideText);
    EXPECT_EQ(first.index, 9);
    EXPECT_EQ(first.value, 0);
    EXPECT_EQ(first.ptr, 0);
    const test::HostCall& second = host.calls[1];
    EXPECT_EQ(second.record, record);
    EXPECT_EQ(second.request, panelGetPlugWideText);
    EXPECT_EQ(second.index, 9);
    EXPECT_EQ(second.value, 6) << "a buffer of 6 characters (the sanitizer build checks it)";
    EXPECT_NE(second.ptr, 0);
    EXPECT_EQ(second.opt, 0.0f);
}

TEST_F(Panel, WideTextEndsAtTheFirstZeroOrAtTheCount) {
    const struct {
        int32_t count;
        WideString served, expected;
    } rows[] = {
        {6, {'a', 'b', 0, 'c', 'd', 0}, {'a', 'b'}},
        {1, {0}, {}},
        {3, {'x', 'y', 'z'}, {'x', 'y', 'z'}},  // no zero from the host: cut at the count
        {4, {0xD83D, 0xDE00, 0x00E9, 0}, {0xD83D, 0xDE00, 0x00E9}},  // 16-bit units unchanged
    };
    for (const auto& row : rows) {
        host.calls.clear();
        serveWideText(host, row.count, row.served);
        EXPECT_EQ(panel->plugHandle(0)->getWideText(), row.expected) << row.count;
        EXPECT_EQ(host.calls.size(), 2u) << row.count;
    }
}

// --- mends: what the Part leaves open ------------------------------------------------------

TEST_F(Panel, WideTextWithoutACountMakesNoSecondRequest) {
    for (intptr_t answer : {intptr_t{0}, intptr_t{-1}, intptr_t{INT32_MIN}}) {
        host.calls.clear();
        host.answers[panelGetPlugWideText] = answer;
        EXPECT_TRUE(panel->plugHandle(1)->getWideText().empty()) << answer;
        EXPECT_EQ(host.calls.size(), 1u) << answer;
    }
}

TEST_F(Panel, NullTextIsEmpty) {
    host.answers[panelGetPlugText] = 0;
    EXPECT_EQ(panel->plugHandle(1)->getText(), "");
    EXPECT_EQ(onlyCall().request, panelGetPlugText);
}

TEST_F(Panel, ValuesAreZeroWhenTheHostWritesNothing) {
    bool startedAtZero = true;
    host.respond = [&](const test::HostCall& call) {
        uint32_t word;
        std::memcpy(&word, pointer(call.ptr), 4);
        startedAtZero = startedAtZero && word == 0;
        return intptr_t{1};
    };
    EXPECT_EQ(panel->plugHandle(1)->getInt(), 0);
    const float value = panel->plugHandle(1)->getFloat();
    EXPECT_EQ(value, 0.0f);
    EXPECT_FALSE(std::signbit(value));
    EXPECT_TRUE(startedAtZero) << "the host is handed a word holding 0";
}

TEST(PanelWithoutCallback, EveryRequestAnswersZeroWithoutACall) {
    Hooks log;
    auto* panel = new ProbePanel(nullptr, 5, log);
    PanelRecord* record = panel->getRecord();
    EXPECT_EQ(record->hostHandle, 5);
    for (int32_t request : {6, 7, 8, 14, 15, 17, 18, 19, 20, 42})
        EXPECT_EQ(panel->callHost(request, 1, 2, pointer(3), 4.0f), 0) << request;
    panel->panelHostRequest8(1, 2, pointer(3));
    EXPECT_EQ(panel->panelHostRequest18(pointer(3)), 0);
    EXPECT_EQ(panel->panelHostRequest19(pointer(3)), 0);
    EXPECT_FALSE(panel->panelHostQuery20(pointer(3)));
    PanelPlugHandle* handle = panel->plugHandle(2);
    EXPECT_EQ(handle->getText(), "");
    EXPECT_EQ(handle->setText("x"), 0);
    EXPECT_EQ(handle->getInt(), 0);
    EXPECT_EQ(handle->setInt(1), 0);
    EXPECT_EQ(handle->getFloat(), 0.0f);
    EXPECT_EQ(handle->setFloat(1.0f), 0);
    EXPECT_TRUE(handle->getWideText().empty());
    // The dispatcher works as with a callback, and so does a hook that uses its handle.
    panel->during7 = [](PanelPlugHandle* h) { EXPECT_EQ(h->getInt(), 0); };
    EXPECT_EQ(record->dispatcherEntry(record, PanelOp7, 4, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(record->dispatcherEntry(record, PanelOpClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(log, (Hooks{{"onOpcode7", 4}, {"close"}, {"destroyed"}}));
}

}  // namespace
}  // namespace mv
