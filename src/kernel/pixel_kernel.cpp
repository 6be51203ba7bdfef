#include "kernel/pixel_kernel.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace orvx {

// x86-64 gets a variant per register width, each compiled for its target
// with the target attribute and picked by the processor's cpuid bits; other
// processors get the portable 16-byte variant (NEON on aarch64, VX on s390x).
#if defined(__GNUC__) && (defined(__x86_64__) || defined(_M_X64))
#define ORVX_X86_VARIANTS 1
#else
#define ORVX_X86_VARIANTS 0
#endif

namespace {

// The plain loops: the reference every variant must agree with, and the
// bytes after a vector variant's last whole vector.
std::uint64_t countPlain(const std::uint8_t* data, std::size_t size, int bitsPerPixel,
                         std::uint8_t limit) {
    std::uint64_t count = 0;
    if (bitsPerPixel == 4) {
        for (std::size_t i = 0; i < size; ++i) {
            count += static_cast<std::uint64_t>((data[i] & 0x0FU) >= limit) +
                     static_cast<std::uint64_t>((data[i] >> 4U) >= limit);
        }
    } else {
        for (std::size_t i = 0; i < size; ++i) {
            count += static_cast<std::uint64_t>(data[i] >= limit);
        }
    }
    return count;
}

std::uint64_t runPlain(const PixelCoding& coding, std::uint8_t* data, std::size_t size,
                       std::size_t phase) {
    const std::uint64_t count =
        coding.counting ? countPlain(data, size, coding.bitsPerPixel, coding.limit) : 0;
    std::size_t at = phase;
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(data[i] + coding.offsets[at]);
        at = at + 1 == KEYSTREAM_PERIOD ? 0 : at + 1;
    }
    return count;
}

// Each variant uses vectors of its own register width: a compare on a vector
// wider than the target's registers is expanded lane by lane.
// Signed and Wide are the same register seen as signed bytes and as 64-bit
// lanes.
// Words is the register seen as 16-bit lanes, for 4-bit pixels in pairs.
template <std::size_t Width> struct VectorOf;
template <> struct VectorOf<8> { using Type = std::uint8_t __attribute__((vector_size(8))); };
template <> struct VectorOf<16> {
    using Type = std::uint8_t __attribute__((vector_size(16)));
    using Signed = signed char __attribute__((vector_size(16)));
    using Wide = std::uint64_t __attribute__((vector_size(16)));
    using Words = std::uint16_t __attribute__((vector_size(16)));
};
template <> struct VectorOf<32> {
    using Type = std::uint8_t __attribute__((vector_size(32)));
    using Signed = signed char __attribute__((vector_size(32)));
    using Wide = std::uint64_t __attribute__((vector_size(32)));
    using Words = std::uint16_t __attribute__((vector_size(32)));
};
template <> struct VectorOf<64> {
    using Type = std::uint8_t __attribute__((vector_size(64)));
    using Signed = signed char __attribute__((vector_size(64)));
    using Wide = std::uint64_t __attribute__((vector_size(64)));
    using Words = std::uint16_t __attribute__((vector_size(64)));
};

// The helpers below are always inlined, so each is compiled for the target
// of the variant that calls it. They take vectors by reference only: a vector
// passed by value would be passed differently at each target.
#define ORVX_ALWAYS_INLINE __attribute__((always_inline)) inline

// The sum of the byte lanes: bytes added in pairs, the pairs in pairs and so
// on within each 64-bit lane (the same on either byte order), then the 64-bit
// lanes. A plain loop over the byte lanes goes through the stack instead.
template <std::size_t Width>
ORVX_ALWAYS_INLINE std::uint64_t sumLanes(const typename VectorOf<Width>::Type& tally) {
    typename VectorOf<Width>::Wide sums;
    std::memcpy(&sums, &tally, sizeof sums);
    sums = (sums & 0x00FF00FF00FF00FFU) + ((sums >> 8U) & 0x00FF00FF00FF00FFU);
    sums = (sums & 0x0000FFFF0000FFFFU) + ((sums >> 16U) & 0x0000FFFF0000FFFFU);
    sums = (sums & 0x00000000FFFFFFFFU) + (sums >> 32U);
    std::uint64_t sum = 0;
    for (std::size_t lane = 0; lane < Width / 8; ++lane) {
        sum += sums[lane];
    }
    return sum;
}

// Adds 1 to the lanes of tally where hits (the result of a compare: -1 or 0
// per lane) is set. AVX-512 compares into a mask register, and a masked add
// takes it as it is; below that, subtracting the -1 is one instruction where
// the select would be several.
template <typename Vector, typename Hits>
ORVX_ALWAYS_INLINE void addHits(Vector& tally, const Hits& hits) {
    if constexpr (sizeof(Vector) == 64) {
        tally = hits ? tally + 1 : tally;
    } else {
        tally -= reinterpret_cast<Vector>(hits);
    }
}

// SSE2 and AVX2 compare bytes as signed numbers only; their unsigned
// compare is a min or max and an equality test. The signed compare is one
// instruction: a nibble is 0..15 either way, and a byte compares as unsigned
// with its top bit flipped. AVX-512 and other processors compare unsigned
// bytes directly.
inline constexpr bool SIGNED_COMPARES = ORVX_X86_VARIANTS == 1;

// What a vector is compared with, for a limit of at least 1: unsigned,
// values at or past low (a nibble) or high (a byte); signed, values past them.
struct Thresholds {
    std::uint8_t low;
    std::uint8_t high;
};

template <std::size_t Width, int BitsPerPixel> Thresholds thresholdsFor(std::uint8_t limit) {
    // A high nibble is at or past the limit exactly when its byte is at or
    // past limit * 16; the limit is below 16 whenever a 4-bit bitmap counts.
    const auto byteLimit = static_cast<std::uint8_t>(BitsPerPixel == 4 ? limit << 4U : limit);
    if (SIGNED_COMPARES && Width < 64) {
        return Thresholds{static_cast<std::uint8_t>(limit - 1U),
                          static_cast<std::uint8_t>((byteLimit - 1U) ^ 0x80U)};
    }
    return Thresholds{limit, byteLimit};
}

// Whether a 4-bit variant adds both nibbles' hits to one tally: with signed
// compares the two results are added, then subtracted once. That frees a
// register, of 16 at SSE2: the sse2 variant ran 3% faster on 4-bit. (A
// masked add can't take two masks.)
template <std::size_t Width>
inline constexpr bool ONE_NIBBLE_TALLY = (SIGNED_COMPARES && Width < 64);

// Counts the vector at data (when Counting), the values at or past the limit
// into one tally per nibble (two chains of adds instead of one long one) or,
// with ONE_NIBBLE_TALLY, into high alone, and adds the offsets.
template <typename Vector, int BitsPerPixel, bool Counting>
ORVX_ALWAYS_INLINE void encodeVector(std::uint8_t* data, const std::uint8_t* offsets, Vector& high,
                                     Vector& low, const Thresholds& limits) {
    Vector pixels;
    std::memcpy(&pixels, data, sizeof pixels);
    Vector keystream;
    std::memcpy(&keystream, offsets, sizeof keystream);
    if constexpr (Counting && SIGNED_COMPARES && sizeof(Vector) < 64) {
        using Signed = typename VectorOf<sizeof(Vector)>::Signed;
        const auto highHits =
            reinterpret_cast<Signed>(pixels ^ 0x80U) > static_cast<signed char>(limits.high);
        if constexpr (BitsPerPixel == 4) {
            addHits(high, highHits + (reinterpret_cast<Signed>(pixels & 0x0FU) >
                                      static_cast<signed char>(limits.low)));
        } else {
            addHits(high, highHits);
        }
    } else if constexpr (Counting) {
        addHits(high, pixels >= limits.high);
        if constexpr (BitsPerPixel == 4) {
            addHits(low, (pixels & 0x0FU) >= limits.low);
        }
    }
    pixels += keystream;
    std::memcpy(data, &pixels, sizeof pixels);
}

// The vector kernel. Whole keystream periods first: the offsets of one
// period are read again for each, so they stay in L1, and the phase does not
// move (the period is a multiple of every width). The 8-bit tallies per lane
// are emptied before they can reach 256 (a lane of a tally that takes both
// nibbles' hits gains up to two a vector). Then the whole vectors of what is
// left, then its last bytes with the plain loops. Unroll vectors go
// through each turn of the loop over a period: how many suits each width
// best was measured (a period is 24, 12 or 6 vectors); GCC's own choice left
// the speed to where the loop happened to sit.
template <std::size_t Width, std::size_t Unroll, int BitsPerPixel, bool Counting>
ORVX_ALWAYS_INLINE std::uint64_t encodeVectors(std::uint8_t* data, std::size_t size,
                                               const std::uint8_t* offsets, std::uint8_t limit) {
    using Vector = typename VectorOf<Width>::Type;
    static_assert(KEYSTREAM_PERIOD % (Width * Unroll) == 0);
    constexpr std::size_t hitsPerVector = BitsPerPixel == 4 && ONE_NIBBLE_TALLY<Width> ? 2 : 1;
    constexpr std::size_t periodsPerTally = 255 / (hitsPerVector * KEYSTREAM_PERIOD / Width);
    const Thresholds limits = thresholdsFor<Width, BitsPerPixel>(limit);
    std::uint64_t count = 0;
    std::size_t at = 0;
    while (size - at >= KEYSTREAM_PERIOD) {
        Vector high{};
        Vector low{};
        for (std::size_t n = 0; n < periodsPerTally && size - at >= KEYSTREAM_PERIOD;
             ++n, at += KEYSTREAM_PERIOD) {
#pragma GCC unroll 1
            for (std::size_t v = 0; v < KEYSTREAM_PERIOD; v += Width * Unroll) {
#pragma GCC unroll 24
                for (std::size_t u = 0; u < Unroll; ++u) {
                    encodeVector<Vector, BitsPerPixel, Counting>(
                        data + at + v + u * Width, offsets + v + u * Width, high, low, limits);
                }
            }
        }
        if constexpr (Counting) {
            count += sumLanes<Width>(high) + (BitsPerPixel == 4 ? sumLanes<Width>(low) : 0);
        }
    }
    const std::size_t rest = size - at;
    const std::size_t whole = rest - rest % Width;
    Vector high{};
    Vector low{};
    for (std::size_t v = 0; v < whole; v += Width) {
        encodeVector<Vector, BitsPerPixel, Counting>(data + at + v, offsets + v, high, low, limits);
    }
    if constexpr (Counting) {
        count += sumLanes<Width>(high) + (BitsPerPixel == 4 ? sumLanes<Width>(low) : 0) +
                 countPlain(data + at + whole, rest - whole, BitsPerPixel, limit);
    }
    for (std::size_t i = whole; i < rest; ++i) {
        data[at + i] = static_cast<std::uint8_t>(data[at + i] + offsets[i]);
    }
    return count;
}

template <std::size_t Width, std::size_t Unroll>
ORVX_ALWAYS_INLINE std::uint64_t runVectors(const PixelCoding& coding, std::uint8_t* data,
                                            std::size_t size, std::size_t phase) {
    const std::uint8_t* offsets = coding.offsets + phase;
    if (coding.counting && coding.limit == 0) { // every value counts
        encodeVectors<Width, Unroll, 8, false>(data, size, offsets, 0);
        return coding.bitsPerPixel == 4 ? 2 * std::uint64_t{size} : size;
    }
    if (!coding.counting) {
        return encodeVectors<Width, Unroll, 8, false>(data, size, offsets, coding.limit);
    }
    if (coding.bitsPerPixel == 4) {
        return encodeVectors<Width, Unroll, 4, true>(data, size, offsets, coding.limit);
    }
    return encodeVectors<Width, Unroll, 8, true>(data, size, offsets, coding.limit);
}

// Rows in memory, for the library's decode and encode: from the caller's
// buffer to the other in one pass, 4-bit pixels packed or unpacked in
// registers. The output row is cut where its cache lines start: the whole
// lines between go through the loop below (with streaming stores when asked),
// the vectors before and after with ordinary ones, and what is left of a
// vector at either end through a line buffer, so that no vector reads past
// its row.

inline constexpr bool BIG_ENDIAN_BYTES = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
inline constexpr std::size_t LINE_BYTES = 64;

// How far ahead of the loop the input is asked for: about 1 KiB, a few
// hundred nanoseconds of reading at the speeds here, which the processor's
// own prefetch, stopping at each 4 KiB page, did not keep up with.
inline constexpr std::size_t PREFETCH_AHEAD = 1024;

// Stores a vector at out; with Streaming, a streaming store (out aligned to
// the vector). GCC has no such store for its vector types, so it is written
// out; it takes the register width the variant's target gives.
template <bool Streaming, typename Vector>
ORVX_ALWAYS_INLINE void storeVector(std::uint8_t* out, const Vector& bytes) {
    if constexpr (Streaming) {
#if defined(__clang__)
        __builtin_nontemporal_store(bytes, reinterpret_cast<Vector*>(out));
#elif ORVX_X86_VARIANTS
        auto* line = reinterpret_cast<Vector*>(out);
        if constexpr (sizeof(Vector) == 64) {
            asm("vmovntdq %1, %0" : "=m"(*line) : "v"(bytes));
        } else if constexpr (sizeof(Vector) == 32) {
            asm("vmovntdq %1, %0" : "=m"(*line) : "x"(bytes));
        } else {
            asm("movntdq %1, %0" : "=m"(*line) : "x"(bytes));
        }
#else
        std::memcpy(out, &bytes, sizeof bytes);
#endif
    } else {
        std::memcpy(out, &bytes, sizeof bytes);
    }
}

// Adds 1 to the lanes of tally whose index is at or past the limit, bytes
// compared as encodeVector compares them.
template <typename Vector>
ORVX_ALWAYS_INLINE void countIndices(Vector& tally, const Vector& indices,
                                     const Thresholds& limits) {
    if constexpr (SIGNED_COMPARES && sizeof(Vector) < 64) {
        using Signed = typename VectorOf<sizeof(Vector)>::Signed;
        addHits(tally,
                reinterpret_cast<Signed>(indices ^ 0x80U) > static_cast<signed char>(limits.high));
    } else {
        addHits(tally, indices >= limits.high);
    }
}

// The low byte of each 16-bit lane of two vectors, in order: one pack on
// SSE2, a pack and a lane fix on AVX2, two truncations on AVX-512.
template <std::size_t Width> struct PairBytes;
template <> struct PairBytes<16> {
    using Vector = VectorOf<16>::Type;
    ORVX_ALWAYS_INLINE static void pick(const Vector& first, const Vector& second, Vector& out) {
        if constexpr (BIG_ENDIAN_BYTES) {
            out = __builtin_shufflevector(first, second, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23,
                                          25, 27, 29, 31);
        } else {
            out = __builtin_shufflevector(first, second, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22,
                                          24, 26, 28, 30);
        }
    }
};
template <> struct PairBytes<32> {
    using Vector = VectorOf<32>::Type;
    ORVX_ALWAYS_INLINE static void pick(const Vector& first, const Vector& second, Vector& out) {
        if constexpr (BIG_ENDIAN_BYTES) {
            out = __builtin_shufflevector(first, second, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23,
                                          25, 27, 29, 31, 33, 35, 37, 39, 41, 43, 45, 47, 49, 51,
                                          53, 55, 57, 59, 61, 63);
        } else {
            out = __builtin_shufflevector(first, second, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22,
                                          24, 26, 28, 30, 32, 34, 36, 38, 40, 42, 44, 46, 48, 50,
                                          52, 54, 56, 58, 60, 62);
        }
    }
};
template <> struct PairBytes<64> {
    using Vector = VectorOf<64>::Type;
    ORVX_ALWAYS_INLINE static void pick(const Vector& first, const Vector& second, Vector& out) {
        if constexpr (BIG_ENDIAN_BYTES) {
            out = __builtin_shufflevector(first, second, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23,
                                          25, 27, 29, 31, 33, 35, 37, 39, 41, 43, 45, 47, 49, 51,
                                          53, 55, 57, 59, 61, 63, 65, 67, 69, 71, 73, 75, 77, 79,
                                          81, 83, 85, 87, 89, 91, 93, 95, 97, 99, 101, 103, 105,
                                          107, 109, 111, 113, 115, 117, 119, 121, 123, 125, 127);
        } else {
            out = __builtin_shufflevector(first, second, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22,
                                          24, 26, 28, 30, 32, 34, 36, 38, 40, 42, 44, 46, 48, 50,
                                          52, 54, 56, 58, 60, 62, 64, 66, 68, 70, 72, 74, 76, 78,
                                          80, 82, 84, 86, 88, 90, 92, 94, 96, 98, 100, 102, 104,
                                          106, 108, 110, 112, 114, 116, 118, 120, 122, 124, 126);
        }
    }
};

// The stored bytes at stored (Width of them, or Width / 2 at 4 bits) less
// the keystream, as Width indices at out.
template <std::size_t Width, int BitsPerPixel, bool Streaming>
ORVX_ALWAYS_INLINE void decodeVector(const std::uint8_t* stored, const std::uint8_t* offsets,
                                     std::uint8_t* out) {
    using Vector = typename VectorOf<Width>::Type;
    if constexpr (BitsPerPixel == 8) {
        Vector bytes;
        Vector keystream;
        std::memcpy(&bytes, stored, sizeof bytes);
        std::memcpy(&keystream, offsets, sizeof keystream);
        bytes -= keystream;
        storeVector<Streaming>(out, bytes);
    } else {
        using Half = typename VectorOf<Width / 2>::Type;
        using Words = typename VectorOf<Width>::Words;
        if constexpr (Width == 16) {
            // The 8 bytes in a whole register, and one interleave
            // (punpcklbw): the widening below costs SSE2 three shuffles, and
            // a shift of an 8-byte vector is done byte by byte.
            using Wide = typename VectorOf<Width>::Wide;
            std::uint64_t storedBytes = 0;
            std::uint64_t keystreamBytes = 0;
            std::memcpy(&storedBytes, stored, sizeof storedBytes);
            std::memcpy(&keystreamBytes, offsets, sizeof keystreamBytes);
            const Vector packed = reinterpret_cast<Vector>(Wide{storedBytes, 0}) -
                                  reinterpret_cast<Vector>(Wide{keystreamBytes, 0});
            const Vector high = packed >> 4U;
            const Vector low = packed & 0x0FU;
            storeVector<Streaming>(out, __builtin_shufflevector(high, low, 0, 16, 1, 17, 2, 18, 3,
                                                                19, 4, 20, 5, 21, 6, 22, 7, 23));
            return;
        }
        Half packed;
        Half keystream;
        std::memcpy(&packed, stored, sizeof packed);
        std::memcpy(&keystream, offsets, sizeof keystream);
        packed -= keystream;
        // Each byte widened to a 16-bit lane, its high nibble to the lane's
        // first byte in memory and its low nibble to the second.
        Words pairs = __builtin_convertvector(packed, Words);
        if constexpr (BIG_ENDIAN_BYTES) {
            pairs = static_cast<Words>((pairs >> 4U) << 8U) | (pairs & 0x0FU);
        } else {
            pairs = (pairs >> 4U) | static_cast<Words>((pairs & 0x0FU) << 8U);
        }
        storeVector<Streaming>(out, reinterpret_cast<Vector>(pairs));
    }
}

// Width indices (2 * Width at 4 bits, packed in pairs) at indices, counted
// when Counting, plus the keystream, as Width stored bytes at out.
template <std::size_t Width, int BitsPerPixel, bool Counting, bool Streaming>
ORVX_ALWAYS_INLINE void encodeRowVector(const std::uint8_t* indices, const std::uint8_t* offsets,
                                        std::uint8_t* out, typename VectorOf<Width>::Type& tally,
                                        const Thresholds& limits) {
    using Vector = typename VectorOf<Width>::Type;
    Vector bytes;
    std::memcpy(&bytes, indices, sizeof bytes);
    if constexpr (Counting) {
        countIndices(tally, bytes, limits);
    }
    if constexpr (BitsPerPixel == 4) {
        using Words = typename VectorOf<Width>::Words;
        Vector next;
        std::memcpy(&next, indices + Width, sizeof next);
        if constexpr (Counting) {
            countIndices(tally, next, limits);
        }
        // A pair of indices is a 16-bit lane: its byte in the lane's low
        // byte, first index high nibble first.
        auto first = reinterpret_cast<Words>(bytes);
        auto second = reinterpret_cast<Words>(next);
        if constexpr (BIG_ENDIAN_BYTES) {
            first = ((first >> 4U) | first) & 0xFFU;
            second = ((second >> 4U) | second) & 0xFFU;
        } else {
            first = (static_cast<Words>(first << 4U) | (first >> 8U)) & 0xFFU;
            second = (static_cast<Words>(second << 4U) | (second >> 8U)) & 0xFFU;
        }
        PairBytes<Width>::pick(reinterpret_cast<Vector>(first), reinterpret_cast<Vector>(second),
                               bytes);
    }
    Vector keystream;
    std::memcpy(&keystream, offsets, sizeof keystream);
    bytes += keystream;
    storeVector<Streaming>(out, bytes);
}

// What a row loop needs of a decode: where output byte j finds its stored
// byte, and a vector or a piece of one.
template <std::size_t Width, int BitsPerPixel> struct RowDecoding {
    static constexpr bool ANY_START = BitsPerPixel == 8; // 4 bits: a vector starts on a byte
    static constexpr std::size_t STORED_PER_VECTOR = BitsPerPixel == 8 ? Width : Width / 2;
    static constexpr std::size_t HITS_PER_VECTOR = 0;
    using Tally = typename VectorOf<Width>::Type;

    const std::uint8_t* stored;

    static std::size_t storedAt(std::size_t j) { return BitsPerPixel == 8 ? j : j / 2; }
    ORVX_ALWAYS_INLINE void prefetchLine(std::size_t j) const {
        __builtin_prefetch(stored + storedAt(j) + PREFETCH_AHEAD);
    }
    template <bool Streaming>
    ORVX_ALWAYS_INLINE void vector(std::size_t j, const std::uint8_t* offsets, std::uint8_t* out,
                                   Tally& /*tally*/) const {
        decodeVector<Width, BitsPerPixel, Streaming>(stored + storedAt(j), offsets, out);
    }
    // length (up to Width) indices from j, to out (room for Width).
    ORVX_ALWAYS_INLINE void piece(std::size_t j, std::size_t length, const std::uint8_t* offsets,
                                  std::uint8_t* out, Tally& /*tally*/) const {
        alignas(LINE_BYTES) std::uint8_t in[Width] = {};
        std::memcpy(in, stored + storedAt(j), BitsPerPixel == 8 ? length : (length + 1) / 2);
        decodeVector<Width, BitsPerPixel, false>(in, offsets, out);
    }
    ORVX_ALWAYS_INLINE void flush(Tally& /*tally*/) {}
};

// The same for an encode, which counts as it goes.
template <std::size_t Width, int BitsPerPixel, bool Counting> struct RowEncoding {
    using Tally = typename VectorOf<Width>::Type;
    static constexpr bool ANY_START = true;
    static constexpr std::size_t STORED_PER_VECTOR = Width;
    static constexpr std::size_t INDICES_PER_BYTE = BitsPerPixel == 8 ? 1 : 2;
    static constexpr std::size_t HITS_PER_VECTOR = Counting ? INDICES_PER_BYTE : 0;

    const std::uint8_t* indices;
    std::size_t width;
    Thresholds limits;
    std::uint64_t count = 0;

    static std::size_t storedAt(std::size_t j) { return j; }
    ORVX_ALWAYS_INLINE void prefetchLine(std::size_t j) const {
        for (std::size_t line = 0; line < INDICES_PER_BYTE; ++line) {
            __builtin_prefetch(indices + INDICES_PER_BYTE * j + PREFETCH_AHEAD + line * LINE_BYTES);
        }
    }
    template <bool Streaming>
    ORVX_ALWAYS_INLINE void vector(std::size_t j, const std::uint8_t* offsets, std::uint8_t* out,
                                   Tally& tally) const {
        encodeRowVector<Width, BitsPerPixel, Counting, Streaming>(indices + INDICES_PER_BYTE * j,
                                                                  offsets, out, tally, limits);
    }
    // length (up to Width) stored bytes from j, to out (room for Width): the
    // indices there, then zeros, which the limit (at least 1) doesn't count.
    ORVX_ALWAYS_INLINE void piece(std::size_t j, std::size_t length, const std::uint8_t* offsets,
                                  std::uint8_t* out, Tally& tally) const {
        alignas(LINE_BYTES) std::uint8_t in[2 * Width] = {};
        const std::size_t first = INDICES_PER_BYTE * j;
        if (first < width) {
            std::memcpy(in, indices + first, std::min(width - first, INDICES_PER_BYTE * length));
        }
        encodeRowVector<Width, BitsPerPixel, Counting, false>(in, offsets, out, tally, limits);
    }
    ORVX_ALWAYS_INLINE void flush(Tally& tally) {
        if constexpr (Counting) {
            count += sumLanes<Width>(tally);
            tally = Tally{};
        }
    }
};

// lines whole cache lines of output from j, the keystream from offset at;
// the tally emptied before its lanes can pass 255. The loop works on a copy
// of the coder, the tally apart, so that nothing it reads stays in memory
// that the stores might reach.
template <std::size_t Width, bool Streaming, typename Coder>
ORVX_ALWAYS_INLINE void codeLines(Coder& coder, std::uint8_t* out, std::size_t j, std::size_t lines,
                                  const std::uint8_t* offsets, std::size_t at) {
    constexpr std::size_t vectorsPerLine = LINE_BYTES / Width;
    constexpr std::size_t hitsPerLine = Coder::HITS_PER_VECTOR * vectorsPerLine;
    constexpr std::size_t linesPerTally = hitsPerLine == 0 ? SIZE_MAX : 255 / hitsPerLine;
    const Coder hot = coder;
    typename Coder::Tally tally{};
    std::size_t sinceFlush = 0;
    for (std::size_t line = 0; line < lines; ++line, j += LINE_BYTES) {
        hot.prefetchLine(j);
#pragma GCC unroll 4
        for (std::size_t v = 0; v < vectorsPerLine; ++v) {
            hot.template vector<Streaming>(j + v * Width,
                                           offsets + at + v * Coder::STORED_PER_VECTOR,
                                           out + j + v * Width, tally);
        }
        at += vectorsPerLine * Coder::STORED_PER_VECTOR;
        at = at >= KEYSTREAM_PERIOD ? at - KEYSTREAM_PERIOD : at;
        if constexpr (hitsPerLine != 0) {
            if (++sinceFlush == linesPerTally) {
                coder.flush(tally);
                sinceFlush = 0;
            }
        }
    }
    coder.flush(tally);
}

// One row: size output bytes at out, of which the first whole ones have all
// their input in the vectors at j with j + Width <= whole. The vectors and
// pieces outside the lines add at most 2 * (2 * 64 / Width + 3) to a
// tally's lane, emptied by codeLines and at the end.
template <std::size_t Width, typename Coder>
ORVX_ALWAYS_INLINE void codeRow(Coder& coder, const std::uint8_t* offsets, std::uint8_t* out,
                                std::size_t whole, std::size_t size, std::size_t phase,
                                bool streaming) {
    typename Coder::Tally tally{};
    const auto offsetsAt = [&](std::size_t j) {
        return offsets + (phase + Coder::storedAt(j)) % KEYSTREAM_PERIOD;
    };
    const auto piece = [&](std::size_t j, std::size_t count) {
        alignas(LINE_BYTES) std::uint8_t line[Width];
        coder.piece(j, count, offsetsAt(j), line, tally);
        std::memcpy(out + j, line, count);
    };
    // Streamed, the lines start at out's first cache line; at 4 bits a
    // decoded vector starts on a byte, so a line starting on a low nibble
    // is written the ordinary way.
    std::size_t head = 0;
    if (streaming) {
        head = std::min(whole, (LINE_BYTES - reinterpret_cast<std::uintptr_t>(out) % LINE_BYTES) %
                                   LINE_BYTES);
        if (!Coder::ANY_START && head % 2 != 0) {
            streaming = false;
            head = 0;
        }
    }
    std::size_t j = 0;
    for (; j + Width <= head; j += Width) {
        coder.template vector<false>(j, offsetsAt(j), out + j, tally);
    }
    if (j < head) {
        piece(j, head - j);
        j = head;
    }
    const std::size_t lines = (whole - j) / LINE_BYTES;
    const std::size_t at = (phase + Coder::storedAt(j)) % KEYSTREAM_PERIOD;
    if (streaming) {
        codeLines<Width, true>(coder, out, j, lines, offsets, at);
    } else {
        codeLines<Width, false>(coder, out, j, lines, offsets, at);
    }
    j += lines * LINE_BYTES;
    for (; j + Width <= whole; j += Width) {
        coder.template vector<false>(j, offsetsAt(j), out + j, tally);
    }
    for (; j < size; j += std::min(Width, size - j)) {
        piece(j, std::min(Width, size - j));
    }
    coder.flush(tally);
}

template <std::size_t Width>
ORVX_ALWAYS_INLINE void decodeRowVectors(const PixelCoding& coding, const std::uint8_t* stored,
                                         std::size_t width, std::uint8_t* out, std::size_t phase,
                                         bool streaming) {
    if (coding.bitsPerPixel == 4) {
        RowDecoding<Width, 4> coder{stored};
        codeRow<Width>(coder, coding.offsets, out, width, width, phase, streaming);
    } else {
        RowDecoding<Width, 8> coder{stored};
        codeRow<Width>(coder, coding.offsets, out, width, width, phase, streaming);
    }
}

template <std::size_t Width, int BitsPerPixel, bool Counting>
ORVX_ALWAYS_INLINE std::uint64_t
encodeRowOf(const PixelCoding& coding, const std::uint8_t* indices, std::size_t width,
            std::uint8_t* out, std::size_t rowSize, std::size_t phase, bool streaming) {
    RowEncoding<Width, BitsPerPixel, Counting> coder{indices, width,
                                                     thresholdsFor<Width, 8>(coding.limit), 0};
    codeRow<Width>(coder, coding.offsets, out, BitsPerPixel == 8 ? width : width / 2, rowSize,
                   phase, streaming);
    return coder.count;
}

template <std::size_t Width>
ORVX_ALWAYS_INLINE std::uint64_t
encodeRowVectors(const PixelCoding& coding, const std::uint8_t* indices, std::size_t width,
                 std::uint8_t* out, std::size_t rowSize, std::size_t phase, bool streaming) {
    const bool counting = coding.counting && coding.limit != 0;
    std::uint64_t count = coding.counting && coding.limit == 0 ? width : 0; // every index counts
    if (coding.bitsPerPixel == 4) {
        count += counting ? encodeRowOf<Width, 4, true>(coding, indices, width, out, rowSize, phase,
                                                        streaming)
                          : encodeRowOf<Width, 4, false>(coding, indices, width, out, rowSize,
                                                         phase, streaming);
    } else {
        count += counting ? encodeRowOf<Width, 8, true>(coding, indices, width, out, rowSize, phase,
                                                        streaming)
                          : encodeRowOf<Width, 8, false>(coding, indices, width, out, rowSize,
                                                         phase, streaming);
    }
    return count;
}

// Four vectors in flight a turn: the loop waits on memory.
template <std::size_t Width>
ORVX_ALWAYS_INLINE bool fitNibblesVectors(const std::uint8_t* indices, std::size_t count) {
    using Vector = typename VectorOf<Width>::Type;
    Vector seen[4] = {};
    std::size_t i = 0;
    for (; i + 4 * Width <= count; i += 4 * Width) {
        for (std::size_t line = 0; line < 4 * Width / LINE_BYTES; ++line) {
            __builtin_prefetch(indices + i + PREFETCH_AHEAD + line * LINE_BYTES);
        }
        for (std::size_t v = 0; v < 4; ++v) {
            Vector bytes;
            std::memcpy(&bytes, indices + i + v * Width, sizeof bytes);
            seen[v] |= bytes;
        }
    }
    const Vector high = (seen[0] | seen[1] | seen[2] | seen[3]) & 0xF0U;
    typename VectorOf<Width>::Wide lanes;
    std::memcpy(&lanes, &high, sizeof lanes);
    std::uint64_t any = 0;
    for (std::size_t lane = 0; lane < Width / 8; ++lane) {
        any |= lanes[lane];
    }
    for (; i < count; ++i) {
        any |= indices[i] & 0xF0U;
    }
    return any == 0;
}

// The plain loops, the reference for rows.
void decodeRowPlain(const PixelCoding& coding, const std::uint8_t* stored, std::size_t width,
                    std::uint8_t* out, std::size_t phase, bool /*streaming*/) {
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t byte = coding.bitsPerPixel == 4 ? i / 2 : i;
        const auto value = static_cast<std::uint8_t>(
            stored[byte] - coding.offsets[(phase + byte) % KEYSTREAM_PERIOD]);
        out[i] = coding.bitsPerPixel == 8 ? value
                 : i % 2 == 0             ? static_cast<std::uint8_t>(value >> 4U)
                                          : static_cast<std::uint8_t>(value & 0x0FU);
    }
}

std::uint64_t encodeRowPlain(const PixelCoding& coding, const std::uint8_t* indices,
                             std::size_t width, std::uint8_t* out, std::size_t rowSize,
                             std::size_t phase, bool /*streaming*/) {
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < width; ++i) {
        count += static_cast<std::uint64_t>(coding.counting && indices[i] >= coding.limit);
    }
    std::memset(out, 0, rowSize);
    for (std::size_t i = 0; i < width; ++i) {
        if (coding.bitsPerPixel == 8) {
            out[i] = indices[i];
        } else {
            out[i / 2] =
                static_cast<std::uint8_t>(out[i / 2] | indices[i] << (i % 2 == 0 ? 4U : 0U));
        }
    }
    for (std::size_t i = 0; i < rowSize; ++i) {
        out[i] = static_cast<std::uint8_t>(out[i] + coding.offsets[(phase + i) % KEYSTREAM_PERIOD]);
    }
    return count;
}

bool fitNibblesPlain(const std::uint8_t* indices, std::size_t count) {
    return std::all_of(indices, indices + count, [](std::uint8_t index) { return index < 16; });
}

void decodeRowVector16(const PixelCoding& coding, const std::uint8_t* stored, std::size_t width,
                       std::uint8_t* out, std::size_t phase, bool streaming) {
    decodeRowVectors<16>(coding, stored, width, out, phase, streaming);
}

std::uint64_t encodeRowVector16(const PixelCoding& coding, const std::uint8_t* indices,
                                std::size_t width, std::uint8_t* out, std::size_t rowSize,
                                std::size_t phase, bool streaming) {
    return encodeRowVectors<16>(coding, indices, width, out, rowSize, phase, streaming);
}

bool fitNibblesVector16(const std::uint8_t* indices, std::size_t count) {
    return fitNibblesVectors<16>(indices, count);
}

// Portable: 16-byte vectors, which every target with vectors has (SSE2 is
// part of x86-64). Built for the compiler's baseline.
std::uint64_t runVector16(const PixelCoding& coding, std::uint8_t* data, std::size_t size,
                          std::size_t phase) {
    return runVectors<16, 8>(coding, data, size, phase);
}

bool runsAnywhere() {
    return true;
}

#if ORVX_X86_VARIANTS
__attribute__((target("avx2"))) std::uint64_t runAvx2(const PixelCoding& coding, std::uint8_t* data,
                                                      std::size_t size, std::size_t phase) {
    return runVectors<32, 12>(coding, data, size, phase);
}

__attribute__((target("avx512f,avx512bw"))) std::uint64_t
runAvx512(const PixelCoding& coding, std::uint8_t* data, std::size_t size, std::size_t phase) {
    return runVectors<64, 1>(coding, data, size, phase);
}

__attribute__((target("avx2"))) void decodeRowAvx2(const PixelCoding& coding,
                                                   const std::uint8_t* stored, std::size_t width,
                                                   std::uint8_t* out, std::size_t phase,
                                                   bool streaming) {
    decodeRowVectors<32>(coding, stored, width, out, phase, streaming);
}

__attribute__((target("avx2"))) std::uint64_t
encodeRowAvx2(const PixelCoding& coding, const std::uint8_t* indices, std::size_t width,
              std::uint8_t* out, std::size_t rowSize, std::size_t phase, bool streaming) {
    return encodeRowVectors<32>(coding, indices, width, out, rowSize, phase, streaming);
}

__attribute__((target("avx2"))) bool fitNibblesAvx2(const std::uint8_t* indices,
                                                    std::size_t count) {
    return fitNibblesVectors<32>(indices, count);
}

// Rows on 32-byte vectors: with 64-byte ones the row encoders measured 0.81
// and 0.60 of memcpy's speed (8 and 4 bits) against 1.16 and 0.84 this way,
// the 8-bit decoder 1.18 against 1.33 (AMD EPYC, family 26).
__attribute__((target("avx512f,avx512bw"))) void
decodeRowAvx512(const PixelCoding& coding, const std::uint8_t* stored, std::size_t width,
                std::uint8_t* out, std::size_t phase, bool streaming) {
    decodeRowVectors<32>(coding, stored, width, out, phase, streaming);
}

__attribute__((target("avx512f,avx512bw"))) std::uint64_t
encodeRowAvx512(const PixelCoding& coding, const std::uint8_t* indices, std::size_t width,
                std::uint8_t* out, std::size_t rowSize, std::size_t phase, bool streaming) {
    return encodeRowVectors<32>(coding, indices, width, out, rowSize, phase, streaming);
}

__attribute__((target("avx512f,avx512bw"))) bool fitNibblesAvx512(const std::uint8_t* indices,
                                                                  std::size_t count) {
    return fitNibblesVectors<64>(indices, count);
}

// __builtin_cpu_supports also checks that the system saves the wider
// registers (XCR0), not only the cpuid bits.
bool hasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool hasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}
#endif

constexpr KernelVariant VARIANTS[] = {
#if ORVX_X86_VARIANTS
    {"avx512", runAvx512, hasAvx512, decodeRowAvx512, encodeRowAvx512, fitNibblesAvx512},
    {"avx2", runAvx2, hasAvx2, decodeRowAvx2, encodeRowAvx2, fitNibblesAvx2},
    {"sse2", runVector16, runsAnywhere, decodeRowVector16, encodeRowVector16, fitNibblesVector16},
#else
    {"vector16", runVector16, runsAnywhere, decodeRowVector16, encodeRowVector16,
     fitNibblesVector16},
#endif
    {"scalar", runPlain, runsAnywhere, decodeRowPlain, encodeRowPlain, fitNibblesPlain},
};

const KernelVariant* findVariant(const char* name) {
    for (const KernelVariant& variant : VARIANTS) {
        if (std::strcmp(variant.name, name) == 0 && variant.supported()) {
            return &variant;
        }
    }
    return nullptr;
}

const KernelVariant* pickVariant() {
#ifdef ORVX_FORCE_KERNEL
    const KernelVariant* named = findVariant(ORVX_FORCE_KERNEL);
    return named != nullptr ? named : &VARIANTS[std::size(VARIANTS) - 1];
#else
    return &*std::find_if(std::begin(VARIANTS), std::end(VARIANTS),
                          [](const KernelVariant& variant) { return variant.supported(); });
#endif
}

// Atomics rather than a function-local static: its guard would bring in
// libstdc++, whose loading alone costs a small conversion a third of its time.
// Threads that pick at once all find the same variant.
std::atomic<const KernelVariant*> pickedVariant{nullptr};
std::atomic<const KernelVariant*> forcedVariant{nullptr};

} // namespace

void initPixelCoding(PixelCoding& coding, std::uint16_t key, int bitsPerPixel, int colorCount) {
    PixelKeystream stream = makeKeystream(key);
    for (std::size_t i = 0; i < KEYSTREAM_PERIOD; ++i) {
        coding.offsets[i] = nextOffset(stream);
        coding.offsets[i + KEYSTREAM_PERIOD] = coding.offsets[i];
    }
    coding.bitsPerPixel = bitsPerPixel;
    coding.limit = static_cast<std::uint8_t>(std::clamp(colorCount, 0, 255));
    coding.counting = colorCount < (1 << bitsPerPixel);
}

void removeKeystream(const PixelCoding& coding, std::uint8_t* data, std::size_t size,
                     std::size_t phase) {
    const std::uint8_t* offsets = coding.offsets + phase;
    for (std::size_t done = 0; done < size;) {
        const std::size_t piece = std::min(size - done, KEYSTREAM_PERIOD);
        for (std::size_t i = 0; i < piece; ++i) {
            data[done + i] = static_cast<std::uint8_t>(data[done + i] - offsets[i]);
        }
        done += piece;
    }
}

void copyRemovingKeystream(const PixelCoding& coding, const std::uint8_t* in, std::uint8_t* out,
                           std::size_t size, std::size_t phase) {
    const std::uint8_t* offsets = coding.offsets + phase;
    for (std::size_t done = 0; done < size;) {
        const std::size_t piece = std::min(size - done, KEYSTREAM_PERIOD);
        const std::uint8_t* __restrict from = in + done;
        std::uint8_t* __restrict to = out + done;
        for (std::size_t i = 0; i < piece; ++i) {
            to[i] = static_cast<std::uint8_t>(from[i] - offsets[i]);
        }
        done += piece;
    }
}

void finishStreaming() {
#if ORVX_X86_VARIANTS || (defined(__clang__) && (defined(__x86_64__) || defined(_M_X64)))
    __builtin_ia32_sfence();
#endif
}

std::span<const KernelVariant> kernelVariants() {
    return VARIANTS;
}

const KernelVariant& activeKernel() {
    const KernelVariant* forced = forcedVariant.load(std::memory_order_relaxed);
    if (forced != nullptr) {
        return *forced;
    }
    const KernelVariant* picked = pickedVariant.load(std::memory_order_relaxed);
    if (picked == nullptr) {
        picked = pickVariant();
        pickedVariant.store(picked, std::memory_order_relaxed);
    }
    return *picked;
}

int forceKernel(const char* name) {
    if (name == nullptr) {
        forcedVariant.store(nullptr, std::memory_order_relaxed);
        return 0;
    }
    const KernelVariant* variant = findVariant(name);
    if (variant == nullptr) {
        return -1;
    }
    forcedVariant.store(variant, std::memory_order_relaxed);
    return 0;
}

} // namespace orvx
