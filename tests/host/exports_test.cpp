// The two exports, called as a host calls them.
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/exports.h"
#include "tests/support/recording_host.h"

namespace mv {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t lf; (lf = text.find('\n', from)) != std::string::npos; from = lf + 1)
        out.push_back(text.substr(from, lf - from));
    out.push_back(text.substr(from));
    return out;
}

TEST(ModuleProperties, IndexZeroWritesIdentityAndVersionOnly) {
    ModuleInfo info;
    std::memset(&info, 0xFF, sizeof info);
    ASSERT_EQ(getModuleProperties(0, &info), 1);
    EXPECT_STREQ(info.identifier, "countRESET1");
    EXPECT_STREQ(info.name, "Tarns Add StepRESET1");
    EXPECT_EQ(info.frameworkVersion, 2230);
    for (uint8_t byte : info.hostBytes) EXPECT_EQ(byte, 0xFF) << "host bytes are the host's";
    // Padding past frameworkVersion on 64-bit targets is the host's too.
    const auto* raw = reinterpret_cast<const uint8_t*>(&info);
    for (size_t i = offsetof(ModuleInfo, frameworkVersion) + 4; i < sizeof info; ++i)
        EXPECT_EQ(raw[i], 0xFF);
}

TEST(ModuleProperties, OtherIndicesWriteOnlyTheVersion) {
    for (int32_t index : {1, -1, 2, INT32_MIN, INT32_MAX}) {
        ModuleInfo info;
        std::memset(&info, 0xFF, sizeof info);
        ModuleInfo expected = info;
        expected.frameworkVersion = 2230;
        EXPECT_EQ(getModuleProperties(index, &info), 0) << index;
        EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0) << index;
    }
}

TEST(ModuleProperties, NullRecordIsRefused) { EXPECT_EQ(getModuleProperties(0, nullptr), 0); }

TEST(ModuleProperties, TextsAreStableAcrossCalls) {
    ModuleInfo a{}, b{};
    getModuleProperties(0, &a);
    getModuleProperties(0, &b);
    EXPECT_EQ(a.identifier, b.identifier);
    EXPECT_EQ(a.aboutText, b.aboutText);
}

TEST(AboutText, HasTwentyTwoLinesExactly) {
    ModuleInfo info{};
    getModuleProperties(0, &info);
    const std::string about = info.aboutText;
    EXPECT_EQ(about.find('\r'), std::string::npos);
    const std::vector<std::string> expected = {
        "   countRESET1 ",
        "* * * * * * * * * * ",
        "",
        "  This Modul is usefull to count Impulse ",
        " and switch other modules by the Output <RESETpulse>. ",
        " Inputs named with up.. react when the level comes from",
        " under 3.33 Volts and go over or equal to it, ",
        "  so they are triggered by up-going-flankes. ",
        " <upCOUNT> is one, that adds each time the ",
        " level of <bySTEP> to the <OUTclimb>. ",
        " When the added summary <OUTclimb> reaches",
        " the level given from <reset@> ",
        " then a short 5 Volts impulse is at <RESETpulse> ",
        " and the <OUTclimb> starts with 0 Volt again. ",
        " Also <upZERO> is giving a 0 Volts to",
        " the <OUTclimb> , but without pulse at <RESETpulse> ",
        "",
        "",
        "  by Tarn Ovelle Jan2007  ",
        " ",
        "  enjoy MODVARA !!! ",
        " * * * * * * * * * * *",
    };
    EXPECT_EQ(lines(about), expected);
}

TEST(MakeModule, BuildsACompleteRecord) {
    test::RecordingHost host;
    test::ModuleInstance instance(host);
    const ModuleRecord* r = instance.record();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->magic, 0x4D56504Cu);
    const uint8_t bytes[4] = {0x4C, 0x50, 0x56, 0x4D};  // little-endian in memory
    EXPECT_EQ(std::memcmp(r, bytes, 4), 0);
    EXPECT_EQ(r->version, 1);
    EXPECT_EQ(r->hostHandle, host.handle());
    EXPECT_EQ(r->instance, static_cast<void*>(&instance.module()));
    EXPECT_EQ(r->reserved0, 0);
    EXPECT_NE(r->dispatcherEntry, nullptr);
    EXPECT_EQ(r->processEntry, &emptyProcess);
    EXPECT_NE(r->eventEntry, nullptr);
    for (int32_t word : r->reserved) EXPECT_EQ(word, 0);
    // The sample rate and block size follow the record without a gap.
    float rate;
    int32_t block;
    std::memcpy(&rate, reinterpret_cast<const char*>(r) + sizeof(ModuleRecord), 4);
    std::memcpy(&block, reinterpret_cast<const char*>(r) + sizeof(ModuleRecord) + 4, 4);
    EXPECT_EQ(rate, 44100.0f);
    EXPECT_EQ(block, 1024);
    EXPECT_TRUE(host.calls.empty()) << "construction makes no request";
}

TEST(MakeModule, RefusesOtherIndicesAndKindsWithoutCallingTheHost) {
    test::RecordingHost host;
    const int32_t cases[][2] = {{0, 0}, {0, 2}, {1, 1}, {-1, 1}, {0, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(makeModule(c[0], c[1], test::RecordingHost::callback, host.handle()), nullptr)
            << c[0] << "," << c[1];
    EXPECT_TRUE(host.calls.empty());
}

TEST(MakeModule, EachInstanceIsIndependent) {
    test::RecordingHost host;
    test::ModuleInstance a(host), b(host);
    EXPECT_NE(a.record(), b.record());
    EXPECT_NE(a.record()->instance, b.record()->instance);
    EXPECT_EQ(a.record()->dispatcherEntry, b.record()->dispatcherEntry);
    EXPECT_EQ(a.record()->eventEntry, b.record()->eventEntry);
}

TEST(MakeModule, NullCallbackStillMakesAnInstanceThatRequestsNothing) {
    test::RecordingHost host;
    test::ModuleInstance instance(host, /*withCallback=*/false);
    ASSERT_NE(instance.record(), nullptr);
    instance.open();
    EXPECT_EQ(instance.module().plugCount(), 0);
    EXPECT_NE(instance.record()->processEntry, &emptyProcess) << "routine selected, nobody told";
    EXPECT_TRUE(host.calls.empty());
}

}  // namespace
}  // namespace mv
