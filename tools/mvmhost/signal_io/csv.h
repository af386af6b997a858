// Sample files as text: a header row of plug names, then one row per sample in signal units
// (1.0 = 10 V). Numbers are written as the shortest text that reads back as the same float,
// so every platform writes the same bytes for the same samples.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/mvmhost/signal_io/input_files.h"

namespace mvmhost {

constexpr size_t kSampleTextMax = 32;  // room for any float's shortest text

// Writes no terminator; answers the end of the text.
char* formatSample(char* out, float value);
std::string formatSample(float value);

// The whole text, blanks around it aside, must be one number ("nan" and "inf" included).
// Beyond the range of a float it is refused; too small to tell from 0, it is 0.
enum class SampleText { Sample, NotANumber, BeyondFloat };
SampleText readSample(std::string_view text, float& value);
inline bool parseSample(std::string_view text, float& value) {
    return readSample(text, value) == SampleText::Sample;
}

// A CSV file of samples read row by row, so that memory stays flat whatever its size. Opening
// reads the header once and counts the rows; the numbers are read, and checked, as they are
// asked for. "-" is standard input.
class CsvReader {
public:
    // Throws Error for a file that cannot be read, is not CSV text, or holds no samples.
    // `opened`, when given, is the file already open at its start (see openInput()).
    explicit CsvReader(std::string path, InputStream opened = nullptr);
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    const std::string& path() const { return path_; }
    const std::vector<std::string>& names() const { return names_; }
    int64_t rows() const { return rows_; }
    // The next `count` rows: column c into columns[c][0 .. count - 1]. Throws Error naming the
    // file and line of the first bad row, or when the file ends early.
    void read(float* const* columns, int32_t count);

private:
    // The next line that is not blank, without its line end; false at the end of the file.
    bool nextLine(std::string_view& line);
    void readHeader();  // at the start of the file, a byte-order mark passed over
    size_t fill();      // more of the file after what is left of the buffer; answers the bytes read
    std::string where() const;

    std::string path_;
    std::string shown_;  // the name in messages
    InputStream file_;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0;  // the unread part of buffer_
    bool atEnd_ = false;
    int64_t lineNumber_ = 0;
    int64_t rows_ = 0;
    std::vector<std::string> names_;
};

// The header row without its line end; a name holding a separator or quote is quoted.
std::string csvHeader(const std::vector<std::string>& names);

}  // namespace mvmhost
