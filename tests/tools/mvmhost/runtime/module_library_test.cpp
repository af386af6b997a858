// What a library file must hold before it is loaded: a file cut short is found from its
// headers, as far as a loader maps it, and nothing else is taken for one.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tools/mvmhost/runtime/module_library.h"

namespace mvmhost {
namespace {

// A PE image as a linker lays one out: 0x400 bytes of headers, then one section of 0x200.
constexpr size_t kPeHeaders = 0x400, kPeSection = 0x200;
std::string peImage() {
    std::string image(kPeHeaders + kPeSection, '\0');
    auto put = [&](size_t at, uint32_t value, size_t bytes) {
        for (size_t i = 0; i < bytes; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
    };
    image[0] = 'M', image[1] = 'Z';
    put(0x3C, 0x80, 4);  // where the PE signature stands
    std::memcpy(&image[0x80], "PE\0\0", 4);
    put(0x86, 1, 2);      // one section
    put(0x94, 0xE0, 2);   // a 32-bit optional header follows the file header, at 0x98
    put(0x98, 0x10B, 2);  // its magic
    put(0x98 + 60, kPeHeaders, 4);
    const size_t section = 0x98 + 0xE0;
    put(section + 16, kPeSection, 4);  // its raw data: size, then where it starts
    put(section + 20, kPeHeaders, 4);
    return image;
}

TEST(LibraryImage, AFileCutShortIsToldFromItsHeaders) {
    const std::string pe = peImage();
    const struct {
        const char* what;
        std::string head;
        uint64_t needed;
    } rows[] = {
        {"a whole PE image", pe, pe.size()},
        {"a PE image cut in its section", pe.substr(0, kPeHeaders + 1), pe.size()},
        {"a PE image cut before its section table", pe.substr(0, 0x100), kPeHeaders},
        {"a PE image cut in its optional header", pe.substr(0, 0xA0), 0x178 + 40},
        {"a PE image cut before its signature", pe.substr(0, 0x40), 0x84},
        {"a DOS program", "MZ" + std::string(0x100, '\0'), 0},
        {"text", "upCOUNT,upZERO\n1,0\n", 0},
        {"nothing", "", 0},
    };
    for (const auto& row : rows) EXPECT_EQ(imageBytesNeeded(row.head), row.needed) << row.what;
}

// This test program is an ELF file its loader mapped whole: it needs no more than it holds,
// and its first hundred bytes alone say that more must follow.
TEST(LibraryImage, ThisProgramFitsAndItsStartDoesNot) {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    std::ifstream in(self, std::ios::binary);
    std::string head(size_t{1} << 16, '\0');  // the headers, not the whole program
    head.resize(static_cast<size_t>(
        in.read(head.data(), static_cast<std::streamsize>(head.size())).gcount()));
    const uint64_t needed = imageBytesNeeded(head);
    EXPECT_GT(needed, 64u);
    EXPECT_LE(needed, std::filesystem::file_size(self));
    EXPECT_GT(imageBytesNeeded(head.substr(0, 100)), 100u);
}

}  // namespace
}  // namespace mvmhost
