// reader.h - the one shape every image format has in the library: a folder
// src/convert/<format>/ holds everything of it (its header, its conversion
// with the indices kept, its RGBA reader, its writer from daz) behind one
// FormatReader, a row of the formats table (formats.cpp).
//
// The shape, step by step:
//   1. recognise: the file's first bytes (at most DAZ_GUESS_BYTES);
//   2. read the header into a plan (plan.h) and put it to the driver's
//      PlanCheck before anything sized by the image is allocated or written;
//   3. write: the daz file with the image's own indices and palette kept
//      (writeIndices), or the pixels as RGBA (readRgba); the driver opens
//      the destination between 2 and 3, so that a source refused leaves it
//      untouched;
//   4. the way back, for an output format: a daz image as this format.
//
// Every step reads and writes streams the driver (driver.h) owns: a file, a
// caller's buffer in memory, or a stream the caller holds; the reader never
// opens, names or removes a file. Every result is a daz_error.
#pragma once

#include "convert/plan.h"
#include "daz/daz.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

namespace orvx {

// What a conversion into daz is asked for: the colour count to keep (0: the
// whole palette; past it, or negative, DAZ_ERR_COLORS) and the key.
struct IndexRequest {
    int colors = 0;
    std::uint16_t key = 0;
};

// Where a daz file goes, from the stream's position on. seekable: the stream
// takes seeks, so rows may be written out of order; else they go out in
// order, and a reader whose rows come otherwise holds them first.
struct DazOutput {
    std::FILE* stream = nullptr;
    bool seekable = false;
};

// A whole image as red, green, blue and alpha bytes.
struct RgbaImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // 4 x width x height bytes, top row first; empty after a read of the
    // size alone.
    std::vector<std::uint8_t> pixels;
    // The image's own palette, when it has one (an indexed bitmap, PNG, GIF
    // or TIFF, a daz image): red, green, blue and a fourth byte (a daz
    // image's as stored, else 0); 0 entries when it has none.
    int paletteEntries = 0;
    std::array<std::uint8_t, std::size_t{4} * 256> palette{};
};

// A reader's own state from its header to its write (the source, what the
// header said, a library's handle), made by its open step and released by
// the driver whichever way the conversion ends.
struct ReaderState {
    void* data = nullptr;
    void (*release)(void* data) = nullptr;

    ReaderState() = default;
    ReaderState(const ReaderState&) = delete;
    ReaderState& operator=(const ReaderState&) = delete;
    ~ReaderState() {
        if (release != nullptr) {
            release(data);
        }
    }
};

// Makes state hold a new T (value-initialised), released with it: null when
// memory can't be had.
template <typename T> T* holdState(ReaderState& state) {
    T* made = new (std::nothrow) T{};
    if (made != nullptr) {
        state.data = made;
        state.release = [](void* data) { delete static_cast<T*>(data); };
    }
    return made;
}

struct FormatReader {
    daz_format format;
    const char* name;       // daz_format_name's: "GIF"
    const char* extensions; // lower case, blank-separated, the usual one first: "jpg jpeg jpe"
    const char* mimeType;   // "image/gif"

    // 1. Whether bytes[0, size) (size at most DAZ_GUESS_BYTES) start a file
    // of this format.
    bool (*recognises)(const std::uint8_t* bytes, std::size_t size);

    // Into daz with the image's palette and indices kept, byte for byte as
    // orvx -c writes the bitmap of the same image; both null for a format
    // that has no palette to keep.
    // 2. Reads source's header from its start (source seeks), checks
    // request.colors against the palette (DAZ_ERR_COLORS) and puts the plan
    // (the daz file's size, what the write will hold whole) to check, whose
    // refusal is returned as it is; keeps what the write needs in state
    // (source too). Nothing sized by the image is allocated yet.
    int (*openIndices)(std::FILE* source, const IndexRequest& request, const PlanCheck* check,
                       ReaderState& state);
    // 3. Writes the daz file to out: DAZ_OK with *undefined (may be null)
    // the count of pixel values past the kept palette, or a daz_error.
    int (*writeIndices)(ReaderState& state, const DazOutput& out, std::uint64_t* undefined);
    // writeIndices may find a fault after it began writing (compressed
    // data): in memory, its output is staged until it is whole.
    bool faultsLate;

    // 3'. The whole image as RGBA, read from source's start. Once the size is
    // known, the plan (width x height pixels; held: 4 x width x height and
    // whatever else the reader holds whole) goes to check before anything
    // is allocated. sizeOnly: stop there, with width and height set. DAZ_OK
    // or a daz_error (DAZ_ERR_READ for one cut short or a failed read).
    int (*readRgba)(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

    // 4. The way back, for an output format (both null otherwise): the daz
    // image at daz (read from its start) checked, the plan (width, rows, the
    // output's size when it is known) put to check, then written to out.
    int (*openExport)(std::FILE* daz, const PlanCheck* check, ReaderState& state);
    int (*writeExport)(ReaderState& state, std::FILE* out);
    // writeExport knows the output's size from the header: in memory it
    // writes into the caller's buffer directly, else it is staged.
    bool exportSizeKnown;
};

// What a reader holds whatever the image's size: a library's state, a zlib
// window, stream buffers.
inline constexpr std::uint64_t DECODER_BYTES = std::uint64_t{256} << 10U;

// The check every RGBA reader makes once it knows the size: width x height
// pixels held as 4 bytes each, extra bytes held beside them (a compressed
// file read whole, a decoder's rows), and DECODER_BYTES. DAZ_OK or the
// check's refusal.
inline int checkRgbaSize(const PlanCheck* check, std::uint64_t width, std::uint64_t height,
                         std::uint64_t extra = 0) {
    OutputPlan plan;
    plan.width = width;
    plan.rows = height;
    plan.bytes = UNKNOWN_SIZE;
    plan.held = 4 * width * height + extra + DECODER_BYTES;
    return checkPlan(check, plan);
}

} // namespace orvx
