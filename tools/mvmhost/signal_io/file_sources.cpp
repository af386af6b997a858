#include "tools/mvmhost/signal_io/file_sources.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/files.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/signal_io/csv.h"
#include "tools/mvmhost/signal_io/input_files.h"

#if defined(MVMHOST_AUDIO)
#include <sndfile.h>
#include <unistd.h>
#endif

namespace mvmhost {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kAudioChunkFrames = 4096;

// The rows of one CSV file, a block at a time, shared by the sources of its columns: each block
// is read once, when the first of them asks for it.
class CsvBlocks {
public:
    explicit CsvBlocks(const std::string& path, InputStream opened = nullptr)
        : reader_(path, std::move(opened)),
          columns_(reader_.names().size()),
          pointers_(columns_.size()) {}
    const CsvReader& reader() const { return reader_; }
    const float* column(size_t c, int32_t first, int32_t count) {
        if (first != blockFirst_) load(first, count);
        return columns_[c].data();
    }

private:
    void load(int32_t first, int32_t count) {
        if (first != next_) throw Error("cannot read " + reader_.path() + " out of order");
        for (size_t c = 0; c < columns_.size(); ++c) {
            if (columns_[c].size() < static_cast<size_t>(count))
                columns_[c].resize(static_cast<size_t>(count));
            pointers_[c] = columns_[c].data();
        }
        reader_.read(pointers_.data(), count);
        blockFirst_ = first;
        next_ = int64_t{first} + count;
    }

    CsvReader reader_;
    std::vector<std::vector<float>> columns_;  // the current block, one buffer per column
    std::vector<float*> pointers_;
    int64_t blockFirst_ = -1, next_ = 0;
};

class CsvColumn : public SignalSource {
public:
    CsvColumn(std::shared_ptr<CsvBlocks> blocks, size_t column)
        : blocks_(std::move(blocks)), column_(column) {}
    void fill(int32_t first, float* out, int32_t count) override {
        std::copy_n(blocks_->column(column_, first, count), count, out);
    }
    int64_t length() const override { return blocks_->reader().rows(); }
    std::string file() const override { return blocks_->reader().path(); }

private:
    std::shared_ptr<CsvBlocks> blocks_;
    size_t column_;
};

bool parseNumber(const std::string& text, int64_t& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

std::unique_ptr<SignalSource> csvColumn(const std::string& path, const std::string& column,
                                        const std::string& plugName, InputStream opened) {
    auto blocks = std::make_shared<CsvBlocks>(path, std::move(opened));
    const std::vector<std::string>& names = blocks->reader().names();
    int64_t number = 0;
    size_t c = names.size();
    if (!column.empty() && parseNumber(column, number) && number >= 1 &&
        number <= static_cast<int64_t>(names.size()))
        c = static_cast<size_t>(number - 1);
    const std::string wanted = column.empty() ? plugName : column;
    for (size_t i = 0; i < names.size() && c == names.size(); ++i)
        if (names[i] == wanted) c = i;
    if (c == names.size() && column.empty() && names.size() == 1) c = 0;
    if (c == names.size()) {
        std::string list;
        for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
        throw Error(inputName(path) + " has no column '" + wanted + "' (its columns: " + list +
                    ")");
    }
    return std::make_unique<CsvColumn>(std::move(blocks), c);
}

#if defined(MVMHOST_AUDIO)
class AudioChannel : public SignalSource {
public:
    AudioChannel(std::string path, InputStream stream, SNDFILE* file, const SF_INFO& info,
                 int channel)
        : path_(std::move(path)),
          stream_(std::move(stream)),
          file_(file),
          info_(info),
          channel_(channel),
          frames_(static_cast<size_t>(kAudioChunkFrames) * static_cast<size_t>(info.channels)) {}
    ~AudioChannel() override { sf_close(file_); }
    void fill(int32_t first, float* out, int32_t count) override {
        if (first != next_) throw Error("cannot read " + path_ + " out of order");
        const auto channels = static_cast<size_t>(info_.channels);
        for (int32_t done = 0; done < count;) {
            const int32_t n = std::min(count - done, kAudioChunkFrames);
            if (sf_readf_float(file_, frames_.data(), n) != n)
                throw Error("cannot read " + inputName(path_) +
                            ": it ends early (was it changed while being read?)");
            for (int32_t i = 0; i < n; ++i)
                out[done + i] =
                    frames_[static_cast<size_t>(i) * channels + static_cast<size_t>(channel_)];
            done += n;
        }
        next_ = int64_t{first} + count;
    }
    int64_t length() const override { return info_.frames; }
    int32_t sampleRate() const override { return info_.samplerate; }
    std::string file() const override { return path_; }

private:
    std::string path_;
    InputStream stream_;  // what file_ reads, closed after it
    SNDFILE* file_;
    SF_INFO info_;
    int channel_;                // from 0
    std::vector<float> frames_;  // one chunk, interleaved
    int64_t next_ = 0;
};
#endif

std::unique_ptr<SignalSource> audioChannel(const std::string& named, const std::string& channel,
                                           const std::string& holds, InputStream stream) {
    const std::string path = inputName(named);
#if defined(MVMHOST_AUDIO)
    (void)holds;
    int64_t number = 1;
    if (!channel.empty() && (!parseNumber(channel, number) || number < 1))
        throw Error(path + "#" + channel + ": pick an audio channel by its number, from 1");
    SF_INFO info{};
    // The descriptor from its start: what the stream read ahead of it does not count.
    lseek(fileno(stream.get()), 0, SEEK_SET);
    SNDFILE* file = sf_open_fd(fileno(stream.get()), SFM_READ, &info, SF_FALSE);
    if (!file) throw Error("cannot read " + path + ": " + hostWords(sf_strerror(nullptr)));
    auto source = std::make_unique<AudioChannel>(named, std::move(stream), file, info,
                                                 static_cast<int>(number - 1));
    if (number > info.channels)
        throw Error(path + " has " + std::to_string(info.channels) + " channels, not " +
                    std::to_string(number));
    if (info.frames <= 0) throw Error(path + " holds no samples");
    if (info.frames > INT32_MAX) throw Error(path + " holds more samples than a render can take");
    return source;
#else
    (void)channel;
    (void)stream;
    throw Error(path + " holds " + holds + "; this build reads CSV files only");
#endif
}

bool isAudioExtension(const std::string& ext) {
    static const char* const kAudio[] = {".wav",  ".wave", ".aif", ".aiff", ".aifc",
                                         ".flac", ".ogg",  ".oga", ".opus", ".au",
                                         ".snd",  ".caf",  ".w64", ".rf64"};
    return std::find(std::begin(kAudio), std::end(kAudio), ext) != std::end(kAudio);
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

}  // namespace

std::unique_ptr<SignalSource> fileSource(const std::string& text, const std::string& plugName) {
    std::string path = text, column;
    const size_t hash = text.rfind('#');
    if (!isStandardStream(text) && !exists(text) && hash != std::string::npos) {
        path = text.substr(0, hash);
        column = text.substr(hash + 1);
    }
    if (!isStandardStream(path) && !exists(path)) {
        if (path.find_first_of("./\\") == std::string::npos) return nullptr;
        throw Error("cannot read " + path + ": no such file");
    }
    // Opened once: a directory or an unreadable file is said in its words, a pipe kept whole.
    InputStream stream = openInput(path);
    const std::string head = streamHead(stream.get());
    const std::string holds = binaryContent(head);
    const std::string ext = lowerExtension(path);
    if (ext == ".csv" || (holds.empty() && !isAudioExtension(ext)))
        return csvColumn(path, column, plugName, std::move(stream));
    if (head.empty()) throw Error("cannot read " + path + ": the file is empty");
    if (holds.empty()) throw Error(path + " holds text, not audio; name a CSV file .csv");
    return audioChannel(path, column, holds, std::move(stream));
}

std::vector<std::pair<std::string, std::unique_ptr<SignalSource>>> csvColumnSources(
    const std::string& path) {
    auto blocks = std::make_shared<CsvBlocks>(path);
    std::vector<std::pair<std::string, std::unique_ptr<SignalSource>>> sources;
    for (size_t c = 0; c < blocks->reader().names().size(); ++c)
        sources.emplace_back(blocks->reader().names()[c], std::make_unique<CsvColumn>(blocks, c));
    return sources;
}

}  // namespace mvmhost
