// Files as people name them: opened with clear words for what is wrong, told apart however
// they are spelled, and recognised by what they hold rather than by their names.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace mvmhost {

// Opens a file for reading in binary; throws Error saying why it cannot ("no such file",
// "it is a directory", "permission denied").
std::FILE* openForReading(const std::string& path);

// Throws Error "WHAT PATH: it is a directory" when the name is one: said before any word
// about the name's extension.
void refuseDirectory(const std::string& what, const std::string& path);

// What the first bytes of a file say it is when it is not text: "a WAV file", "an AIFF file",
// "a FLAC file", "an Ogg file", "binary data"; empty for text.
std::string binaryContent(std::string_view head);
// The first bytes of a file, for binaryContent; empty when it cannot be read.
std::string fileHead(const std::string& path);

// The name's extension in lower case, with its dot: ".csv"; empty when it has none.
std::string lowerExtension(const std::string& path);

// Whether two names are one file: the same device and inode when both exist, else the same
// path once made absolute and normal.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace mvmhost
