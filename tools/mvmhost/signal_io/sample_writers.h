// Output files: CSV everywhere, WAV where the build has libsndfile. Each appears under its
// name only once complete, so a failed render leaves nothing half-written behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mvmhost {

// Written under a temporary name beside the file and renamed into place by commit();
// the temporary is removed if commit() never comes. A file that stood under the name is kept
// aside until this one is dropped, so that withdraw() can bring it back.
class PendingFile {
public:
    // Throws Error when the file cannot be created there.
    explicit PendingFile(std::string path);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& path() const { return path_; }
    const std::string& tempPath() const { return temp_; }
    void commit();
    // Puts back what stood under the name before commit(), for a run whose other files failed.
    void withdraw();

private:
    void restorePrevious();

    std::string path_;
    std::string temp_;
    std::string previous_;  // what stood under the name, while commit() may yet be withdrawn
    bool committed_ = false;
};

class SampleWriter {
public:
    virtual ~SampleWriter() = default;
    // count samples of every column, in signal units.
    virtual void write(const float* const* columns, int32_t count) = 0;
    // Completes the file under its temporary name; throws Error when it could not be written.
    virtual void complete() = 0;
    virtual PendingFile& file() = 0;
    // Completes the file and puts it in place.
    void finish();
};

// Puts files completed under their temporary names in place, all of them or none: when one
// cannot be, those already placed are withdrawn and Error says which could not.
void commitAll(const std::vector<PendingFile*>& files);

// By the name's extension: .csv (a header row of the column names) or .wav (32-bit float,
// one channel per column). Throws Error for another extension or a place it cannot write.
std::unique_ptr<SampleWriter> openSampleWriter(const std::string& path,
                                               const std::vector<std::string>& names,
                                               int32_t sampleRate, int32_t maxBlock);

}  // namespace mvmhost
