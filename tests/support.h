// Helpers for tests that work on real files and run the built tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system temp dir, removed with everything in it
// when the object goes.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
bool fileExists(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> folderEntries(const std::string& path);

struct RunResult {
    int status = -1; // exit status, or -1 if the process did not exit normally
    int signal = 0;  // the signal that ended it, if one did
    std::string out;
    std::string err;
};

// Runs a program with these arguments (argv[0] included), no shell; one of
// the tool's own through the emulator, if the build has one.
RunResult runProgram(const std::vector<std::string>& argv);

// argv, put behind the emulator when argv[0] is one of the tool's programs
// and this build's programs run under one (Wine, qemu-user).
std::vector<std::string> withEmulator(std::vector<std::string> argv);
bool underEmulator();
// The words of argv, quoted for sh.
std::string shellWords(const std::vector<std::string>& argv);
RunResult runOrvxBinary(const std::vector<std::string>& args);

// A daz file laid out by hand: the header (magic, format word 1, the
// fields), colors palette entries (entry i is i, 2, 3, 4) and the stored
// pixel bytes as given.
Bytes dazFile(std::uint16_t width, std::int16_t height, int bits, int colors, std::uint16_t key,
              const Bytes& stored);

// A bitmap in the common layout: 14 + 40 byte headers, a full palette of
// 1 << bpp entries (entry i is blue i, green 2i, red 3i, extra 0x80), pixels.
Bytes makeBmp(int width, int height, int bpp, const Bytes& pixels);

// The 54 bytes of a bitmap's headers (14 + 40), the pixels at 54, the file's
// size left 0.
Bytes bmpHeader(std::int32_t width, std::int32_t height, std::uint16_t bits,
                std::uint32_t compression = 0);

// Bitmaps of colours 0xAARRGGBB, top row first: 24 bits (alpha dropped), or
// 32 with an alpha mask (a 56-byte header).
Bytes rgbBmp(std::uint32_t width, std::uint32_t height, const std::vector<std::uint32_t>& colours);
Bytes argbBmp(std::uint32_t width, std::uint32_t height, const std::vector<std::uint32_t>& argb);

// Colours 0x..RRGGBB as RGBA, alpha 255.
Bytes rgbaOf(const std::vector<std::uint32_t>& colours);

// orvx's usage text, as a literal of the tests' own.
std::string usageText();

void putU16(Bytes& bytes, std::size_t at, std::uint16_t value);
void putU32(Bytes& bytes, std::size_t at, std::uint32_t value);

// A picture as RGB triples, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    Bytes rgb;
    bool operator==(const Picture&) const = default;
};

// Decodes a daz file from its definition: palette, keystream taken off, the
// first |height| rows (fewer if the file holds fewer) put top-down by the sign
// of the height field. Indices past the palette
// render as magenta-ish (1, 2, 3) so that they show.
Picture renderDaz(const Bytes& daz);

// ImageMagick's decoding of an image file; empty when it fails.
Picture renderWithImageMagick(const std::string& path);

// Sets an environment variable for as long as the object lives, then puts
// back what was there.
struct ScopedEnvironment {
    ScopedEnvironment(const char* name, const char* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    std::string name;
    bool had = false;
    std::string before;
};
