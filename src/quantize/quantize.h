// quantize.h - colour reduction and palette mapping, in integer arithmetic
// only, so that every processor and platform gives the same bytes.
//
// An image of red, green, blue and alpha bytes becomes indices onto a
// palette: one made for it (reducePalette) or one given (mapToPalette).
// Pixels are composited over the background first; with a transparent
// index, alpha 0 takes that index and nothing else does. Callers (libdaz's
// API) have checked the sizes against the limits; these functions check
// only the options, and allocate working memory bounded by the pixel count
// and a fixed histogram.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvx::quantize {

enum class Dither { None, Diffusion };

struct Options {
    int colors = 256; // reduction: 2..256 entries at most
    Dither dither = Dither::None;
    int transparentIndex = -1; // -1: none, else 0..255
    uint8_t background[3] = {0, 0, 0};
};

// Pixels as the caller holds them: 4 bytes a pixel, rows stride apart,
// top row first.
struct RgbaImage {
    const uint8_t* pixels = nullptr;
    size_t stride = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// A palette of red, green, blue and a fourth byte per entry.
struct Palette {
    uint8_t bytes[256 * 4] = {};
    int entries = 0;
};

// Reduces image to at most options.colors entries: palette gets them (fourth
// byte 0, zero past the entries), indices width x height bytes, top row
// first. An image of at most that many colours keeps them exactly, in order
// of first appearance. Returns 0 or a negative daz_error (DAZ_ERR_ARGUMENT
// for options out of range, DAZ_ERR_MEMORY).
int reducePalette(const RgbaImage& image, const Options& options, Palette& palette,
                  uint8_t* indices);

// The most reducePalette (reduce) or mapToPalette holds while it works on an
// image of width x height pixels, beside the image and the indices. A
// reduction of more than 2^30 pixels is DAZ_ERR_LIMITS.
uint64_t workingBytes(uint32_t width, uint32_t height, bool reduce, Dither dither);

// Maps image onto palette as given (1..256 entries; never changed). Returns 0
// or a negative daz_error.
int mapToPalette(const RgbaImage& image, const Options& options, const Palette& palette,
                 uint8_t* indices);

} // namespace orvx::quantize
