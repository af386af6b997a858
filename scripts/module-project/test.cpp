// @ident@1 as a host meets it, through its library file and the SDK's test kit.
// TODO: state what your module does. This test holds the code as the scaffold made it: "out"
// follows "in" at the level chosen on "level@".
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "tools/mvmhost/kit/module_test_kit.h"

namespace {

using mv::kit::Signal;
using mv::kit::TestHost;
using mv::kit::volts;

TEST(@Camel@, OutFollowsInAtTheChosenLevel) {
    TestHost host(MV_MODULE_LIBRARY);
    host.feed("in", Signal::clock(100, volts(5)));
    host.set("level@", "-6 dB", 500);
    host.run(1000);

    const std::vector<float>& in = host.samples("in");
    const std::vector<float>& out = host.samples("out");
    ASSERT_EQ(out.size(), 1000u);
    const float minus6dB = static_cast<float>(std::pow(10.0, -6.0 / 20.0));
    for (size_t t = 0; t < out.size(); ++t)
        ASSERT_EQ(out[t], t < 500 ? in[t] : in[t] * minus6dB) << "sample " << t;
    EXPECT_EQ(host.lastState("out"), mv::Streaming);
}

}  // namespace
