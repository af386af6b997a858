// Numbers as people type them on a command line, and any text shown back to them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mvmhost {

constexpr int kSecondsPerMinute = 60;

// A length or a position in a render: a sample count ("480"), or a time ("10s", "250ms",
// "1.5 s", "2:30", "1:02:03.5"), which becomes samples only once the sample rate is known.
class SampleTime {
public:
    // Empty when the text is neither; nothing negative is either.
    static std::optional<SampleTime> parse(std::string_view text);
    static SampleTime samples(int64_t count) { return SampleTime(count, -1.0); }

    bool isTime() const { return seconds_ >= 0; }
    // To the nearest sample at `rate`; INT64_MAX for anything beyond.
    int64_t at(double rate) const;
    // "0 samples at 44100 Hz": what a time came to, for a message refusing it.
    std::string describe(double rate) const;

private:
    SampleTime(int64_t count, double seconds) : count_(count), seconds_(seconds) {}
    int64_t count_;
    double seconds_;  // below 0 for a sample count
};

// A number as a person types it ("48000", "2.5", "4.8e4"); beyond a double's range it is infinite.
// Empty for anything else, "nan" included.
std::optional<double> parseNumber(std::string_view text);

// A time in seconds: a number ("2.5") or any time form of SampleTime ("250ms", "1:30").
std::optional<double> parseSeconds(std::string_view text);

// A whole number from 0 to 2^64 - 1, digits only.
std::optional<uint64_t> parseUnsigned(std::string_view text);
// A seed, as parseUnsigned reads it; throws Error starting with `shown` for anything else.
uint64_t parseSeed(const std::string& shown, std::string_view text);
// The one reader of every count a command line gives (--chunks, --jobs, --repeat, --block):
// a whole number from `least` to `most`, digits only. Throws Error "OPTION TEXT: give a whole
// number of UNITS from LEAST to MOST" for anything else: a sign, a fraction, 1e3, too many.
uint64_t parseCount(const std::string& option, std::string_view text, const char* units,
                    uint64_t least, uint64_t most);

// A library's own error text in this host's words: "System error : No such file or directory."
// becomes "no such file", "Format not recognised." "not an audio file this host reads".
std::string hostWords(std::string_view libraryText);

// Forms for help and error texts.
constexpr const char* kSampleTimeForms = "a sample count or a time (10s, 250ms, 2:30)";

// The text with every byte that is not printable UTF-8 shown as an escape (\n, \t, \x1b), so a
// message never carries control codes or broken characters to a terminal. With keepLines, line
// ends stay line ends (a module's about text has several lines), "\r\n" read as one.
std::string printable(std::string_view text, bool keepLines = false);

// Volts for a person: "1 V", "3.33 V", "-0.5 V".
std::string volts(double units);

}  // namespace mvmhost
