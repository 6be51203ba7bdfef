// rgba_readers.h - every input format read whole as red, green, blue and
// alpha bytes, behind one signature: one reader per format (bmp/, png/, pgm/
// and the daz file), picked by the formats table (formats.h) from the file's
// first bytes.
#pragma once

#include "convert/result_codes.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace orvx {

struct RgbaImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // 4 x width x height bytes, top row first; empty after a read of the
    // size alone.
    std::vector<std::uint8_t> pixels;
    // The image's own palette, when it has one (an indexed bitmap or PNG, a
    // daz image): red, green, blue and a fourth byte (a daz image's as
    // stored, else 0); 0 entries when it has none.
    int paletteEntries = 0;
    std::array<std::uint8_t, std::size_t{4} * 256> palette{};
};

// Reads the image at source (from its start; it must seek) into image, and
// returns DAZ_OK or a daz_error: the format's own faults, DAZ_ERR_READ for
// one cut short or a failed read. Once the size is known, check (null: none)
// is asked about a plan of width x height pixels holding 4 x width x height
// bytes, before anything is allocated: its refusal is returned as it is.
// sizeOnly: stop there, with width and height set.
using RgbaReader = int (*)(std::FILE* source, const PlanCheck* check, bool sizeOnly,
                           RgbaImage& image);

int readBmpRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);
int readPngRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);
int readPgmRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);
// As daz_decode_rgba: an index past the palette is opaque magenta.
int readDazRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

// The check every reader makes once it knows the size: width x height pixels
// held as 4 bytes each. DAZ_OK or the check's refusal.
inline int checkRgbaSize(const PlanCheck* check, std::uint64_t width, std::uint64_t height) {
    OutputPlan plan;
    plan.width = width;
    plan.rows = height;
    plan.bytes = UNKNOWN_SIZE;
    plan.held = 4 * width * height;
    return checkPlan(check, plan);
}

} // namespace orvx
