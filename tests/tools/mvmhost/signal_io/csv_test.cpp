// Sample text: the same shortest text on every platform, read back to the same bits, and CSV
// files read with a clear word on the first line that is wrong.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/signal_io/csv.h"

namespace mvmhost {
namespace {

uint32_t bitsOf(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

float fromBits(uint32_t b) {
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

struct SampleText : ::testing::Test {};

TEST_F(SampleText, ShortestTextThatReadsBack) {
    const struct {
        float value;
        const char* text;
    } rows[] = {
        {0.0f, "0"},
        {-0.0f, "-0"},
        {0.1f, "0.1"},
        {0.5f, "0.5"},
        {0.333f, "0.333"},
        {0.1f + 0.1f, "0.2"},
        {0.1f + 0.1f + 0.1f, "0.3"},  // 0.3 reads back as the same float
        {100.0f, "100"},
        {1e20f, "1e+20"},
        {fromBits(1), "1e-45"},  // the smallest denormal
        {std::numeric_limits<float>::max(), "3.4028235e+38"},
        {INFINITY, "inf"},
        {-INFINITY, "-inf"},
        {std::numeric_limits<float>::quiet_NaN(), "nan"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(formatSample(row.value), row.text);
    }
}

TEST_F(SampleText, EveryFloatReadsBackBitForBit) {
    std::mt19937 random(2024);
    std::vector<uint32_t> patterns = {0x00000001u, 0x007FFFFFu, 0x00800000u, 0x7F7FFFFFu,
                                      0x80000000u, 0x3EAA7EFAu, 0x3EDDB22Du, 0xFF7FFFFFu};
    for (int i = 0; i < 200000; ++i) patterns.push_back(static_cast<uint32_t>(random()));
    for (uint32_t bits : patterns) {
        const float value = fromBits(bits);
        if (std::isnan(value)) continue;
        float back = 0;
        ASSERT_TRUE(parseSample(formatSample(value), back)) << formatSample(value);
        ASSERT_EQ(bitsOf(back), bits) << formatSample(value);
    }
}

// Too small to tell from 0 a number is 0; too large for a float it is refused.
TEST_F(SampleText, ReadsNumbersAndNothingElse) {
    const struct {
        const char* text;
        bool ok;
        float value;
    } rows[] = {
        {"0.5", true, 0.5f},       {" 0.5 ", true, 0.5f},   {"+1", true, 1.0f},
        {"-0", true, -0.0f},       {"1e-3", true, 1e-3f},   {"inf", true, INFINITY},
        {"-inf", true, -INFINITY}, {"", false, 0},          {" ", false, 0},
        {"abc", false, 0},         {"1,5", false, 0},       {"0.5x", false, 0},
        {"--1", false, 0},         {"+-1", false, 0},       {"0x10", false, 0},
        {"1e-50", true, 0.0f},     {"-1e-50", true, -0.0f}, {"1e-400", true, 0.0f},
        {"3.5e38", false, 0},      {"1e400", false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        float value = 12345.0f;
        EXPECT_EQ(parseSample(row.text, value), row.ok);
        if (row.ok) {
            EXPECT_EQ(bitsOf(value), bitsOf(row.value));
        }
    }
    float nan = 0;
    EXPECT_TRUE(parseSample("nan", nan));
    EXPECT_TRUE(std::isnan(nan));
}

struct CsvTable {
    std::vector<std::string> names;
    std::vector<std::vector<float>> columns;
};

// The whole file, read in blocks of three rows and a last short one, as a render reads it.
CsvTable readCsv(const std::string& path) {
    CsvReader reader(path);
    CsvTable table{reader.names(), std::vector<std::vector<float>>(reader.names().size())};
    for (auto& column : table.columns) column.resize(static_cast<size_t>(reader.rows()));
    constexpr int64_t kBlock = 3;
    std::vector<float*> at(table.columns.size());
    for (int64_t first = 0; first < reader.rows(); first += kBlock) {
        for (size_t c = 0; c < at.size(); ++c) at[c] = table.columns[c].data() + first;
        reader.read(at.data(), static_cast<int32_t>(std::min(kBlock, reader.rows() - first)));
    }
    return table;
}

struct CsvFiles : ::testing::Test {
    std::string path =
        (std::filesystem::temp_directory_path() /
         ("mvmhost-csv-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
          ".csv"))
            .string();
    void TearDown() override { std::filesystem::remove(path); }
    void write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
};

TEST_F(CsvFiles, ReadAsColumnsByName) {
    const struct {
        const char* what;
        const char* text;
        std::vector<std::string> names;
        std::vector<std::vector<float>> columns;
    } rows[] = {
        {"plain", "a,b\n1,2\n3,4\n", {"a", "b"}, {{1, 3}, {2, 4}}},
        {"CRLF and blanks", "a , b\r\n 1, 2 \r\n3,4\r\n", {"a", "b"}, {{1, 3}, {2, 4}}},
        {"blank lines", "a\n\n0.5\n\n\n", {"a"}, {{0.5f}}},
        {"no final line feed", "a\n7", {"a"}, {{7}}},
        {"byte-order mark",
         "\xEF\xBB\xBF"
         "a\n1\n",
         {"a"},
         {{1}}},
        {"long",
         "a,b\n1,2\n3,4\n5,6\n7,8\n9,10\n11,12\n13,14\n",
         {"a", "b"},
         {{1, 3, 5, 7, 9, 11, 13}, {2, 4, 6, 8, 10, 12, 14}}},
        {"quoted name", "\"a,b\",\"say \"\"hi\"\"\"\n1,2\n", {"a,b", "say \"hi\""}, {{1}, {2}}},
        {"plug names", "reset@,upCOUNT\n0,0.333\n", {"reset@", "upCOUNT"}, {{0}, {0.333f}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        write(row.text);
        const CsvTable table = readCsv(path);
        EXPECT_EQ(table.names, row.names);
        EXPECT_EQ(table.columns, row.columns);
    }
}

// Many times the reader's buffer, lines of every length crossing its edges, blank lines and
// CRLF among them: every float reads back to the bits written.
TEST_F(CsvFiles, LargeFileReadsBackBitForBit) {
    std::mt19937 random(7);
    std::string text = "a,b\n";
    std::vector<std::vector<float>> columns(2);
    for (int row = 0; row < 300000; ++row) {
        for (auto& column : columns) {
            float value;
            do value = fromBits(static_cast<uint32_t>(random()));
            while (std::isnan(value));
            column.push_back(value);
            text += formatSample(value) + (&column == &columns[0] ? "," : "");
        }
        text += row % 7 == 0 ? "\r\n" : row % 101 == 0 ? "\n \n" : "\n";
    }
    write(text);
    const CsvTable table = readCsv(path);
    ASSERT_EQ(table.columns.size(), 2u);
    for (size_t c = 0; c < 2; ++c) {
        ASSERT_EQ(table.columns[c].size(), columns[c].size());
        for (size_t i = 0; i < columns[c].size(); ++i)
            ASSERT_EQ(bitsOf(table.columns[c][i]), bitsOf(columns[c][i])) << "row " << i;
    }
}

TEST_F(CsvFiles, NameTheLineThatIsWrong) {
    const struct {
        const char* what;
        const char* text;
        const char* message;
    } rows[] = {
        {"empty", "", "has no header row"},
        {"header only", "x,y\n\n", "holds no samples"},
        {"a WAV file", "RIFF\x24\x01\x02\x03WAVEfmt ", "holds a WAV file, not CSV text"},
        {"binary", "a\n1\n\x01\x02", "holds binary data, not CSV text"},
        {"beyond a float", "a\n1\n1e40\n", ":3: '1e40' is beyond the range of a float"},
        {"beyond a double", "a\n1e400\n", ":2: '1e400' is beyond the range of a float"},
        {"hexadecimal", "a\n0x1p-2\n", ":2: '0x1p-2' is not a number"},
        {"bad line far down", "a\n1\n2\n3\n\n4\n5\nfive\n", ":8: 'five' is not a number"},
        {"only blank lines", "\n \n", "has no header row"},
        {"missing value", "a,b\n1,2\n3\n", ":3: expected 2 values, found 1"},
        {"extra value", "a\n1,2\n", ":2: expected 1 value, found 2"},
        {"not a number", "a,b\n1,x\n", ":2: 'x' is not a number"},
        {"empty value", "a,b\n1,\n", ":2: '' is not a number"},
        {"decimal comma", "a\n0,5\n", ":2: expected 1 value, found 2"},
        {"twice the same name", "a,a\n1,2\n", ":1: column 'a' appears twice"},
        {"nameless column", "a,,b\n", ":1: a column has no name"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        write(row.text);
        try {
            readCsv(path);
            ADD_FAILURE() << "read without complaint";
        } catch (const Error& failure) {
            EXPECT_NE(std::string(failure.what()).find(row.message), std::string::npos)
                << failure.what();
        }
    }
    std::filesystem::remove(path);
    EXPECT_THROW(readCsv(path), Error);
}

TEST_F(CsvFiles, HeaderQuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(csvHeader({"upCOUNT", "reset@", "a,b", "q\"t"}), "upCOUNT,reset@,\"a,b\",\"q\"\"t\"");
    EXPECT_EQ(csvHeader({}), "");
}

}  // namespace
}  // namespace mvmhost
