// Which inputs are ordinary and which outputs hurt a host: the value rules the validator and
// the fuzzer share. From ordinary inputs a module must not answer NaN, which poisons every
// module downstream, and should not answer denormals, which slow many processors to a crawl;
// infinities are a module's right (a divider fed 0).
#pragma once

#include <cstdint>
#include <string>

#include "tools/mvmhost/contract/stimulus.h"

namespace mvmhost {

// 0, or a magnitude from 2^-20 to 16.
bool isOrdinaryInput(float value);

// A signal of ordinary samples only: held levels (0 among them, for long enough that a
// module's decaying state reaches the smallest floats), steps and noise at every scale of
// the range.
void fillOrdinary(Random& random, float* samples, int32_t count);
float ordinaryValue(Random& random);

enum class ValueHazard { None, Denormal, NaN };

// The worst sample among `count`, and where the first of that kind lies.
ValueHazard worstSample(const float* samples, int32_t count, int32_t* at);

const char* hazardName(ValueHazard hazard);

}  // namespace mvmhost
