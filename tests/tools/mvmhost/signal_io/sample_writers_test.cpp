// Output files: exact CSV bytes, and nothing left behind when a file is not completed.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/signal_io/sample_writers.h"
#include "tools/mvmhost/signal_io/sources.h"

namespace mvmhost {
namespace {

namespace fs = std::filesystem;

struct OutputFiles : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / "mvmhost-writers-test";
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::vector<std::string> filesThere() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(OutputFiles, CsvIsTheSameBytesEverywhere) {
    const float a[] = {0.1f, 0.5f, -0.0f}, b[] = {1e-45f, 100.0f, 0.333f};
    const float* columns[] = {a, b};
    auto writer =
        openSampleWriter((dir / "out.csv").string(), {"OUTclimb", "RESETpulse"}, 44100, 2);
    writer->write(columns, 2);
    const float* rest[] = {a + 2, b + 2};
    writer->write(rest, 1);
    EXPECT_EQ(filesThere().size(), 1u);
    EXPECT_FALSE(fs::exists(dir / "out.csv"));  // not under its name before it is complete
    writer->finish();
    EXPECT_EQ(contents(dir / "out.csv"), "OUTclimb,RESETpulse\n0.1,1e-45\n0.5,100\n-0,0.333\n");
    EXPECT_EQ(filesThere(), std::vector<std::string>{"out.csv"});
}

TEST_F(OutputFiles, AnUnfinishedFileLeavesNothingAndKeepsAnOldOne) {
    std::ofstream(dir / "old.csv") << "previous\n";
    {
        auto fresh = openSampleWriter((dir / "new.csv").string(), {"x"}, 44100, 1);
        auto replacing = openSampleWriter((dir / "old.csv").string(), {"x"}, 44100, 1);
        const float one = 1.0f;
        const float* column[] = {&one};
        fresh->write(column, 1);
        replacing->write(column, 1);
    }  // a render that failed half-way
    EXPECT_EQ(filesThere(), std::vector<std::string>{"old.csv"});
    EXPECT_EQ(contents(dir / "old.csv"), "previous\n");
}

// All or none: when a later file of a run cannot be placed, the earlier ones are withdrawn
// and what stood under their names before is there again, byte for byte.
TEST_F(OutputFiles, ARunWhoseLastFileCannotBePlacedKeepsWhatStoodBefore) {
    std::ofstream(dir / "old.csv") << "previous\n";
    const float one = 1.0f;
    const float* column[] = {&one};
    auto replacing = openSampleWriter((dir / "old.csv").string(), {"x"}, 44100, 1);
    auto fresh = openSampleWriter((dir / "new.csv").string(), {"x"}, 44100, 1);
    auto blocked = openSampleWriter((dir / "blocked.csv").string(), {"x"}, 44100, 1);
    std::vector<PendingFile*> files;
    for (auto* writer : {replacing.get(), fresh.get(), blocked.get()}) {
        writer->write(column, 1);
        writer->complete();
        files.push_back(&writer->file());
    }
    fs::create_directories(dir / "blocked.csv" / "in the way");  // appeared during the run
    EXPECT_THROW(commitAll(files), Error);
    replacing.reset();
    fresh.reset();
    blocked.reset();
    EXPECT_EQ(filesThere(), (std::vector<std::string>{"blocked.csv", "old.csv"}));
    EXPECT_EQ(contents(dir / "old.csv"), "previous\n");

    // And once every file is in place, nothing of the old one is left beside it.
    auto again = openSampleWriter((dir / "old.csv").string(), {"x"}, 44100, 1);
    again->write(column, 1);
    again->finish();
    again.reset();
    EXPECT_EQ(contents(dir / "old.csv"), "x\n1\n");
    EXPECT_EQ(filesThere(), (std::vector<std::string>{"blocked.csv", "old.csv"}));
}

// A WAV output is RF64 only once it outgrows the 4 GiB a RIFF size counts (tried by hand: 600M
// samples of two channels, 4.8 GB, read back whole); below that, plain RIFF as every reader
// takes it.
TEST_F(OutputFiles, ASmallWavFileIsPlainRiff) {
    if (!audioFilesSupported()) GTEST_SKIP() << "this build writes CSV only";
    const float samples[] = {0.25f, -0.5f};
    const float* columns[] = {samples, samples + 1};
    auto writer = openSampleWriter((dir / "out.wav").string(), {"a", "b"}, 48000, 1);
    writer->write(columns, 1);
    writer->finish();
    const std::string bytes = contents(dir / "out.wav");
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.substr(8, 4), "WAVE");
    EXPECT_EQ(bytes.substr(bytes.size() - 8),
              std::string(reinterpret_cast<const char*>(samples), 8));
}

TEST_F(OutputFiles, PlacesThatCannotTakeAFileAreRefusedUpFront) {
    const struct {
        std::string path;
        const char* message;
    } rows[] = {
        {(dir / "missing" / "out.csv").string(), "cannot write"},
        {(dir / "taken.csv").string(), "it is a directory"},
        {(dir / "out.txt").string(), "name it .csv"},
    };
    fs::create_directory(dir / "taken.csv");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        try {
            openSampleWriter(row.path, {"x"}, 44100, 1);
            ADD_FAILURE() << "accepted";
        } catch (const Error& failure) {
            EXPECT_NE(std::string(failure.what()).find(row.message), std::string::npos)
                << failure.what();
        }
    }
    EXPECT_EQ(filesThere(), std::vector<std::string>{"taken.csv"});
}

}  // namespace
}  // namespace mvmhost
