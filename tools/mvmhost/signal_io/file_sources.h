// Signal sources read from files a block at a time, so that a render's memory does not grow
// with its inputs: CSV columns, and audio channels where the build reads audio files.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/mvmhost/signal_io/sources.h"

namespace mvmhost {

// A file's column or channel: "PATH", "PATH#NAME" or "PATH#NUMBER". A name that is a file as
// it stands is taken whole, '#' and all. The format comes from what the file holds: text is CSV,
// anything else an audio file, and a name whose extension says otherwise is refused. Without a
// column, a CSV file's column named after the plug (or its only column), an audio file's first
// channel. Answers null when `text` names no file and does not look like a path; throws
// Error for anything else that does not fit.
std::unique_ptr<SignalSource> fileSource(const std::string& text, const std::string& plugName);

// Every column of a CSV file, named by its header, read once for all of them.
std::vector<std::pair<std::string, std::unique_ptr<SignalSource>>> csvColumnSources(
    const std::string& path);

}  // namespace mvmhost
