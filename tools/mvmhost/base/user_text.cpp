#include "tools/mvmhost/base/user_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/mvmhost/base/error.h"

namespace mvmhost {
namespace {

constexpr double kInt64Beyond = 9223372036854775808.0;  // 2^63

bool isDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Digits with at most one '.' between or around them: no sign, exponent, inf or nan.
std::optional<double> plainDecimal(std::string_view s) {
    if (s.empty() || s == "." || s.find_first_not_of("0123456789.") != std::string_view::npos ||
        s.find('.') != s.rfind('.'))
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// "10s", "250ms", "2:30", "1:02:03.5": every form but a bare number.
std::optional<double> timeForm(std::string_view text) {
    text = trimmed(text);
    if (text.find(':') != std::string_view::npos) {
        std::vector<std::string_view> fields;
        for (size_t start = 0;;) {
            const size_t colon = text.find(':', start);
            fields.push_back(text.substr(start, colon - start));
            if (colon == std::string_view::npos) break;
            start = colon + 1;
        }
        if (fields.size() > 3) return std::nullopt;
        double seconds = 0;
        for (size_t i = 0; i < fields.size(); ++i) {
            const bool last = i + 1 == fields.size();
            if (!last && !isDigits(fields[i])) return std::nullopt;
            const std::optional<double> value = plainDecimal(fields[i]);
            // Minutes and seconds after the leading field stay below 60, as on a clock.
            if (!value || (i > 0 && !(*value < kSecondsPerMinute))) return std::nullopt;
            seconds = seconds * kSecondsPerMinute + *value;
        }
        return seconds;
    }
    double scale = 1.0;
    if (text.size() >= 2 && text.substr(text.size() - 2) == "ms") {
        text.remove_suffix(2);
        scale = 1e-3;
    } else if (!text.empty() && text.back() == 's') {
        text.remove_suffix(1);
    } else {
        return std::nullopt;
    }
    const std::optional<double> value = plainDecimal(trimmed(text));
    if (!value) return std::nullopt;
    return *value * scale;
}

std::string shortest(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The length of the UTF-8 character at the start of `s` when it is valid and printable, else 0.
size_t printableCharacter(std::string_view s) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return lead >= 0x20 && lead != 0x7f ? 1 : 0;
    size_t length = 0;
    uint32_t code = 0;
    if ((lead & 0xe0) == 0xc0)
        length = 2, code = lead & 0x1fu;
    else if ((lead & 0xf0) == 0xe0)
        length = 3, code = lead & 0x0fu;
    else if ((lead & 0xf8) == 0xf0)
        length = 4, code = lead & 0x07u;
    else
        return 0;
    if (s.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) return 0;
        code = code << 6 | (byte(i) & 0x3fu);
    }
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800,
                                          0x10000};  // shorter forms are overlong
    const bool valid =
        code >= kLeast[length] && code <= 0x10ffff && !(code >= 0xd800 && code <= 0xdfff);
    const bool control = code >= 0x80 && code < 0xa0;
    return valid && !control ? length : 0;
}

}  // namespace

std::optional<SampleTime> SampleTime::parse(std::string_view text) {
    if (isDigits(trimmed(text))) {
        const std::optional<uint64_t> count = parseUnsigned(trimmed(text));
        if (!count || *count > uint64_t{INT64_MAX}) return SampleTime(INT64_MAX, -1.0);
        return SampleTime(static_cast<int64_t>(*count), -1.0);
    }
    if (const std::optional<double> seconds = timeForm(text)) return SampleTime(0, *seconds);
    return std::nullopt;
}

int64_t SampleTime::at(double rate) const {
    if (!isTime()) return count_;
    const double samples = std::round(seconds_ * rate);
    return samples < kInt64Beyond ? static_cast<int64_t>(samples) : INT64_MAX;
}

std::string SampleTime::describe(double rate) const {
    const int64_t n = at(rate);
    return std::to_string(n) + (n == 1 ? " sample" : " samples") + " at " + shortest(rate) + " Hz";
}

std::optional<double> parseNumber(std::string_view text) {
    text = trimmed(text);
    if (text.empty() || text.front() == '+') return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size() || std::isnan(value)) return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        // Too small to tell from 0, or too large for a double: the digits say which.
        const size_t e = text.find_first_of("eE");
        const bool tiny =
            e != std::string_view::npos && text.find('-', e) != std::string_view::npos;
        return tiny ? 0.0 : (text.front() == '-' ? -HUGE_VAL : HUGE_VAL);
    }
    if (error != std::errc()) return std::nullopt;
    return value;
}

std::optional<double> parseSeconds(std::string_view text) {
    if (const std::optional<double> plain = parseNumber(text)) return plain;
    return timeForm(text);
}

std::optional<uint64_t> parseUnsigned(std::string_view text) {
    if (!isDigits(text)) return std::nullopt;
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

uint64_t parseSeed(const std::string& shown, std::string_view text) {
    if (const std::optional<uint64_t> seed = parseUnsigned(text)) return *seed;
    throw Error(shown + ": a seed is a whole number from 0 to " + std::to_string(UINT64_MAX));
}

uint64_t parseCount(const std::string& option, std::string_view text, const char* units,
                    uint64_t least, uint64_t most) {
    const std::optional<uint64_t> n = parseUnsigned(trimmed(text));
    if (n && *n >= least && *n <= most) return *n;
    throw Error(option + " " + std::string(text) + ": give a whole number of " + units + " from " +
                std::to_string(least) + " to " + std::to_string(most));
}

std::string hostWords(std::string_view text) {
    constexpr std::string_view kSystemError = "System error : ";
    if (text.substr(0, kSystemError.size()) == kSystemError)
        text.remove_prefix(kSystemError.size());
    while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\n'))
        text.remove_suffix(1);
    if (text == "No such file or directory") return "no such file";
    if (text == "Format not recognised") return "not an audio file this host reads";
    if (text == "Internal error : SF_INFO struct incomplete")
        return "its header gives no sample rate or no channels";
    std::string words(text);
    if (!words.empty())
        words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
    return words;
}

std::string printable(std::string_view text, bool keepLines) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    while (!text.empty()) {
        const size_t lineEnd = !keepLines                    ? 0
                               : text[0] == '\n'             ? 1
                               : text.substr(0, 2) == "\r\n" ? 2
                                                             : 0;
        if (lineEnd > 0) {
            shown += '\n';
            text.remove_prefix(lineEnd);
            continue;
        }
        if (const size_t n = printableCharacter(text)) {
            shown.append(text.substr(0, n));
            text.remove_prefix(n);
            continue;
        }
        const auto c = static_cast<unsigned char>(text.front());
        if (c == '\n')
            shown += "\\n";
        else if (c == '\r')
            shown += "\\r";
        else if (c == '\t')
            shown += "\\t";
        else
            shown += {'\\', 'x', kHex[c >> 4], kHex[c & 0xf]};
        text.remove_prefix(1);
    }
    return shown;
}

std::string volts(double units) {
    if (std::isnan(units)) return "nan V";
    if (std::isinf(units)) return units > 0 ? "inf V" : "-inf V";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", units * 10.0);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s + " V";
}

}  // namespace mvmhost
