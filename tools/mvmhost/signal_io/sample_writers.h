// Output files: CSV everywhere, WAV where the build has libsndfile. Each appears under its
// name only once complete, so a failed render leaves nothing half-written behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/mvmhost/base/files.h"

namespace mvmhost {

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

// By the name's extension: .csv (a header row of the column names) or .wav (32-bit float,
// one channel per column; RF64 once past the 4 GiB a WAV file holds). "-" is CSV on
// standard output. Throws Error for another extension or a place it cannot write.
std::unique_ptr<SampleWriter> openSampleWriter(const std::string& path,
                                               const std::vector<std::string>& names,
                                               int32_t sampleRate, int32_t maxBlock);

}  // namespace mvmhost
