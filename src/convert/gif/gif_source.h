// gif_source.h - a GIF's first frame through giflib, read from a stream:
// its header up to the frame's pixel data, then the frame's rows.
//
// The image the library makes of a GIF is its logical screen, widened (as
// Pillow does) to hold the whole first frame when the frame passes the
// screen's right or bottom edge: nothing of the frame is cut. The frame sits
// at its Left and Top; the rest of the image is filled with one index, the
// frame's transparent index when it has one (so a browser shows it as it
// shows the screen around a frame: see through), else the screen's
// background index (0 without a global colour table, where it means
// nothing).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct GifFileType;

namespace orvx {

// The rows of an image with an interlaced frame come in four passes; every
// other reading takes them in order.
struct GifFrame {
    std::uint32_t screenWidth = 0; // the logical screen, as the header says
    std::uint32_t screenHeight = 0;
    std::uint32_t left = 0; // the first frame within it
    std::uint32_t top = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool interlaced = false;
    std::uint32_t imageWidth = 0; // the image made of both
    std::uint32_t imageHeight = 0;
    // The frame's colour table (its local one, else the global one): red,
    // green, blue; 2..256 entries.
    int entries = 0;
    std::array<std::uint8_t, std::size_t{3} * 256> table{};
    int transparent = -1; // the transparent index of the frame's control block, or -1
    int background = 0;   // the screen's background index (0 without a global table)
    int codeSize = 0;     // the LZW minimum code size: every index is below 2^codeSize
    // The index of every pixel outside the frame.
    [[nodiscard]] std::uint8_t fill() const {
        return static_cast<std::uint8_t>(transparent >= 0 ? transparent : background);
    }
    // Whether the frame leaves any of the image uncovered.
    [[nodiscard]] bool filled() const { return width != imageWidth || height != imageHeight; }
};

// giflib's handle on the stream, closed with it.
struct GifReading {
    GifFileType* gif = nullptr;
    std::FILE* file = nullptr;
    bool cut = false;          // the stream ended, or a read failed, before giflib had enough
    std::uint8_t lastByte = 0; // the last byte giflib read

    GifReading() = default;
    GifReading(const GifReading&) = delete;
    GifReading& operator=(const GifReading&) = delete;
    ~GifReading();
};

// Reads source from its start up to the first frame's pixel data (past the
// extensions before it, keeping the transparent index of its graphic control
// block) into frame: DAZ_OK, DAZ_ERR_BAD_IMAGE (not a GIF giflib reads, no
// frame, a frame of no pixels, no colour table), DAZ_ERR_READ (cut short, or
// a failed read) or DAZ_ERR_MEMORY. Nothing sized by the image is allocated.
int openGif(std::FILE* source, GifReading& reading, GifFrame& frame);

// The frame's next row as stored, frame.width indices into row: DAZ_OK,
// DAZ_ERR_BAD_IMAGE (damaged image data), DAZ_ERR_READ or DAZ_ERR_MEMORY.
int readGifRow(GifReading& reading, const GifFrame& frame, std::uint8_t* row);

// The frame's row (0: its top) that comes n-th (from 0) in the file.
std::uint32_t gifFrameRow(const GifFrame& frame, std::uint32_t n);

} // namespace orvx
