// What the host feeds a Signal input: generators described in a short text, or a column of a
// CSV or audio file. Generator levels are in volts, as a person types them; every source
// hands the module signal units (1.0 = 10 V).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/mvmhost/runtime/signal_source.h"

namespace mvmhost {

// Parses one source text (the forms are listed in sourceForms()). A file column is picked by
// "#NAME" or "#NUMBER" after the path; without one, a CSV file's column named after the plug
// (or its only column) and an audio file's first channel. Throws Failure on a bad text or file.
// Lengths and positions given as times, and clock rates, count in samples at `sampleRate`.
std::unique_ptr<SignalSource> makeSource(const std::string& text, const std::string& plugName,
                                         double sampleRate = kDefaultSampleRate);
// Whether a source text is a level or a generator rather than a file.
bool namesGenerator(const std::string& text);
std::unique_ptr<SignalSource> constantSource(float units);
std::unique_ptr<SignalSource> samplesSource(std::vector<float> samples);
// High for the first `highSamples` of every `period`, from sample `delay` on; low before it.
std::unique_ptr<SignalSource> clockSource(int64_t period, int64_t highSamples, int64_t delay,
                                          float high, float low);
// Levels from their clocks on, the first at clock 0 and the clocks rising.
std::unique_ptr<SignalSource> stepsSource(std::vector<std::pair<int32_t, float>> steps);

// One line per form, for the command line's help.
const char* sourceForms();

// A level as a person types it ("5", "5V", "-2.5 V"), in volts; false when it is not one.
bool parseVolts(const std::string& text, double& volts);
float voltsToUnits(double volts);

// Whether this build reads and writes audio files (the Linux build with libsndfile does).
bool audioFilesSupported();

}  // namespace mvmhost
