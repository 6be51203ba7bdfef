// pixel_kernel.h - the work done on every pixel byte: count the values past
// the kept palette and raise the byte by its keystream offset.
//
// The loop comes in several variants, one per processor level, each an
// ordinary function compiled for its own target. A table lists them with the
// test each needs of the processor, and the best one the processor supports
// is picked once per run. The plain loop is one of them and runs anywhere.
#pragma once

#include "format/daz_format.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvx {

// The offsets of one keystream period, laid out twice: a piece that starts at
// phase p (p < KEYSTREAM_PERIOD) takes offsets[p, p + KEYSTREAM_PERIOD) for
// each whole period it holds, with no wrap in between.
inline constexpr std::size_t PERIOD_TABLE_SIZE = 2 * KEYSTREAM_PERIOD;

// What a kernel needs besides the pixel bytes.
struct PixelCoding {
    alignas(64) std::uint8_t offsets[PERIOD_TABLE_SIZE];
    int bitsPerPixel = 8;
    std::uint8_t limit = 0; // values (nibbles at 4 bpp, bytes at 8) at or past it are counted
    bool counting = false;  // false when no value can reach the limit
};

// colorCount: the kept palette entries; values at or past it are counted.
void initPixelCoding(PixelCoding& coding, std::uint16_t key, int bitsPerPixel, int colorCount);

// Raises data[i] by keystream offset (phase + i) mod KEYSTREAM_PERIOD, for
// any size, alignment and phase below KEYSTREAM_PERIOD, and returns how many
// values of data (as it was) index at or past coding.limit; 0 when not counting.
using PixelKernel = std::uint64_t (*)(const PixelCoding& coding, std::uint8_t* data,
                                      std::size_t size, std::size_t phase);

// The way back, for reading a daz file: lowers data[i] by keystream offset
// (phase + i) mod KEYSTREAM_PERIOD, for any size and a phase below
// KEYSTREAM_PERIOD. The compiler vectorises it well enough for a file's read.
void removeKeystream(const PixelCoding& coding, std::uint8_t* data, std::size_t size,
                     std::size_t phase);

// The same, from in to out (which must not overlap): out[i] is in[i]
// lowered by keystream offset (phase + i) mod KEYSTREAM_PERIOD. One pass
// over the bytes, for a decode into the caller's memory.
void copyRemovingKeystream(const PixelCoding& coding, const std::uint8_t* in, std::uint8_t* out,
                           std::size_t size, std::size_t phase);

// Rows of an image in memory, in one pass from the caller's buffer to the
// other, for the library's decode and encode. streaming: the output is past
// the caches (see STREAMED_OUTPUT_BYTES), so its whole cache lines are
// written with streaming stores, which don't read a line in before writing
// it; the caller orders them with finishStreaming() before returning.

// A stored row (its first (width * bits + 7) / 8 bytes read, the keystream
// from phase) to width indices at out, 4-bit pixels unpacked, high nibble
// first.
using RowDecoder = void (*)(const PixelCoding& coding, const std::uint8_t* stored,
                            std::size_t width, std::uint8_t* out, std::size_t phase,
                            bool streaming);

// width indices to the stored row at out: rowSize bytes (at least
// (width * bits + 7) / 8), 4-bit pixels packed two to a byte, high nibble
// first, padded with zeros, the keystream added from phase. Returns how many
// indices are at or past coding.limit (0 when not counting). At 4 bits every
// index must be below 16 (fitNibbles): a larger one gives bytes of no use.
using RowEncoder = std::uint64_t (*)(const PixelCoding& coding, const std::uint8_t* indices,
                                     std::size_t width, std::uint8_t* out, std::size_t rowSize,
                                     std::size_t phase, bool streaming);

// Whether every one of count indices fits in 4 bits.
using NibbleCheck = bool (*)(const std::uint8_t* indices, std::size_t count);

// Orders the streaming stores made before it with what follows.
void finishStreaming();

// An output of at least this many bytes is past the caches: it is written
// with streaming stores. (glibc's memcpy does the same for large copies;
// without them a decode of 64 MiB moved half as much again through memory
// as the memcpy.)
inline constexpr std::uint64_t STREAMED_OUTPUT_BYTES = std::uint64_t{16} << 20U;

struct KernelVariant {
    const char* name;       // "avx512", "avx2", "sse2", "vector16" or "scalar"
    PixelKernel run;        // call only where supported() is true
    bool (*supported)();    // whether this processor can run it
    RowDecoder decodeRow;   // the same register width, for rows in memory
    RowEncoder encodeRow;   //
    NibbleCheck fitNibbles; //
};

// The variants this build has, best first. The last is the plain loop, the
// reference the others must agree with; it runs anywhere.
std::span<const KernelVariant> kernelVariants();

// The variant this run uses: the best one the processor supports, picked on
// first use. A build configured with ORVX_FORCE_KERNEL=name picks that one
// (the plain loop where the processor lacks it). forceKernel overrides both.
const KernelVariant& activeKernel();

// For tests and benchmarks: from now on activeKernel() is the variant of
// that name; nullptr goes back to the pick. 0, or -1 (and nothing changes)
// when the build has no such variant or the processor can't run it.
int forceKernel(const char* name);

} // namespace orvx
