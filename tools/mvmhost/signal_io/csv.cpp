#include "tools/mvmhost/signal_io/csv.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/files.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/runtime/interrupts.h"

namespace mvmhost {
namespace {

constexpr size_t kReadChunk = size_t{1} << 16;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Commas inside double quotes belong to the field (a header name may hold one).
std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] != ',' || quoted) continue;
        fields.push_back(trimBlanks(line.substr(start, i - start)));
        start = i + 1;
    }
    fields.push_back(trimBlanks(line.substr(start)));
    return fields;
}

std::string headerName(std::string_view field) {
    if (field.size() < 2 || field.front() != '"' || field.back() != '"') return std::string(field);
    std::string name;
    for (size_t i = 1; i + 1 < field.size(); ++i) {
        name += field[i];
        if (field[i] == '"' && field[i + 1] == '"') ++i;  // a doubled quote stands for one
    }
    return name;
}

// Why a field is not a sample, in a person's words.
std::string notASample(std::string_view field, SampleText why) {
    const std::string text(field);
    if (why == SampleText::BeyondFloat)
        return "'" + text + "' is beyond the range of a float sample (about 3.4e38)";
    return "'" + text + "' is not a number";
}

}  // namespace

char* formatSample(char* out, float value) {
    return std::to_chars(out, out + kSampleTextMax, value).ptr;
}

std::string formatSample(float value) {
    char text[kSampleTextMax];
    return std::string(text, formatSample(text, value));
}

SampleText readSample(std::string_view text, float& value) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+'))
            return SampleText::NotANumber;
    }
    if (text.empty()) return SampleText::NotANumber;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size()) return SampleText::NotANumber;
    if (error == std::errc()) return SampleText::Sample;
    // A number, but too large or too small for a float: read wide, which says which.
    const std::optional<double> wide = parseNumber(text);
    if (!wide || !(std::fabs(*wide) < 1.0)) return SampleText::BeyondFloat;
    value = static_cast<float>(*wide);
    return SampleText::Sample;
}

CsvReader::CsvReader(std::string path, InputStream opened)
    : path_(std::move(path)),
      shown_(inputName(path_)),
      file_(opened ? std::move(opened) : openInput(path_)),
      buffer_(kReadChunk) {
    fill();
    const std::string binary = binaryContent(std::string_view(buffer_.data(), end_));
    if (!binary.empty()) throw Error(shown_ + " holds " + binary + ", not CSV text");
    readHeader();
    // Counting the rows reads the file once more, a line end at a time: cheap beside parsing.
    std::string_view line;
    while (nextLine(line)) ++rows_;
    if (std::ferror(file_.get())) throw Error("cannot read " + shown_ + ": read error");
    if (rows_ == 0)
        throw Error(shown_ + " holds no samples: it has a header row and nothing after it");
    // Back to the first row: the header line is passed over, not read again.
    std::rewind(file_.get());
    begin_ = end_ = 0;
    atEnd_ = false;
    lineNumber_ = 0;
    nextLine(line);
}

void CsvReader::readHeader() {
    const std::string_view head(buffer_.data(), end_);
    if (head.substr(0, kByteOrderMark.size()) == kByteOrderMark) begin_ = kByteOrderMark.size();
    std::string_view line;
    if (!nextLine(line)) throw Error(shown_ + " has no header row of plug names");
    std::unordered_set<std::string> seen;
    for (std::string_view field : splitFields(line)) {
        std::string name = headerName(field);
        if (name.empty()) throw Error(where() + "a column has no name");
        if (!seen.insert(name).second) throw Error(where() + "column '" + name + "' appears twice");
        names_.push_back(std::move(name));
    }
}

CsvReader::~CsvReader() = default;

size_t CsvReader::fill() {
    stopIfInterrupted();  // counting the rows of a large file takes a while
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size())
        buffer_.resize(buffer_.size() * 2);  // a line longer than the buffer
    const size_t n = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_.get());
    end_ += n;
    if (n == 0) atEnd_ = true;
    return n;
}

bool CsvReader::nextLine(std::string_view& line) {
    for (;;) {
        const char* start = buffer_.data() + begin_;
        const void* lineEnd = std::memchr(start, '\n', end_ - begin_);
        if (!lineEnd && !atEnd_) {
            fill();
            continue;
        }
        if (!lineEnd && begin_ == end_) return false;
        const size_t length = lineEnd ? static_cast<const char*>(lineEnd) - start : end_ - begin_;
        begin_ += lineEnd ? length + 1 : length;
        ++lineNumber_;
        line = std::string_view(start, length);
        // Blank lines, such as one at the very end, hold no row.
        size_t i = 0;
        while (i < line.size() && isBlank(line[i])) ++i;
        if (i < line.size()) return true;
    }
}

std::string CsvReader::where() const { return shown_ + ":" + std::to_string(lineNumber_) + ": "; }

void CsvReader::read(float* const* columns, int32_t count) {
    const size_t width = names_.size();
    std::string_view line;
    for (int32_t row = 0; row < count; ++row) {
        if (!nextLine(line)) {
            if (std::ferror(file_.get())) throw Error("cannot read " + shown_ + ": read error");
            throw Error("cannot read " + shown_ +
                        ": it ends early (was it changed while being read?)");
        }
        size_t c = 0;
        for (size_t start = 0;; ++c) {
            const size_t comma = line.find(',', start);
            const std::string_view field = line.substr(start, comma - start);
            if (c < width)
                if (const SampleText got = readSample(field, columns[c][row]);
                    got != SampleText::Sample)
                    throw Error(where() + notASample(trimBlanks(field), got));
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        if (c + 1 != width)
            throw Error(where() + "expected " + std::to_string(width) +
                        (width == 1 ? " value" : " values") + ", found " + std::to_string(c + 1));
    }
}

std::string csvHeader(const std::vector<std::string>& names) {
    std::string header;
    for (const std::string& name : names) {
        if (!header.empty()) header += ',';
        if (name.find_first_of(",\"\r\n") == std::string::npos) {
            header += name;
            continue;
        }
        header += '"';
        for (char c : name) header += c == '"' ? std::string("\"\"") : std::string(1, c);
        header += '"';
    }
    return header;
}

}  // namespace mvmhost
