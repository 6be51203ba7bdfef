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
template <std::size_t Width> struct VectorOf;
template <> struct VectorOf<16> {
    using Type = std::uint8_t __attribute__((vector_size(16)));
    using Signed = signed char __attribute__((vector_size(16)));
    using Wide = std::uint64_t __attribute__((vector_size(16)));
};
template <> struct VectorOf<32> {
    using Type = std::uint8_t __attribute__((vector_size(32)));
    using Signed = signed char __attribute__((vector_size(32)));
    using Wide = std::uint64_t __attribute__((vector_size(32)));
};
template <> struct VectorOf<64> {
    using Type = std::uint8_t __attribute__((vector_size(64)));
    using Signed = signed char __attribute__((vector_size(64)));
    using Wide = std::uint64_t __attribute__((vector_size(64)));
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
    {"avx512", runAvx512, hasAvx512},
    {"avx2", runAvx2, hasAvx2},
    {"sse2", runVector16, runsAnywhere},
#else
    {"vector16", runVector16, runsAnywhere},
#endif
    {"scalar", runPlain, runsAnywhere},
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
