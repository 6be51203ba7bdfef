// libdaz in memory on an 8192 x 8192 image, 8 and 4 bits a pixel, against
// memcpy of the same 64 MiB of indices:
//   cmake --workflow --preset bench && build/bench/bench/api_bench
// Bytes per second count the indices (one byte a pixel) each call reads or
// writes, so the figures compare directly with memcpy's. The paired
// runs time a memcpy and the call back to back on each iteration and give
// the median of memcpy's time over the call's (vs_memcpy: 1 is as fast as
// memcpy), which holds up on a busy machine where the times alone don't.
// They time on the thread's CPU clock, which stops while another process
// has the core: on a machine shared with builds, a pair that the scheduler
// cuts in two would otherwise weigh on one side only. (Waiting on memory is
// still time on the CPU.)
#include "daz/daz.h"

#include <benchmark/benchmark.h>

#include <algorithm>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr std::uint32_t SIDE = 8192;
constexpr std::int32_t ROWS = SIDE; // bottom-up, as orvx -c writes
constexpr std::size_t PIXELS = std::size_t{SIDE} * SIDE;

std::vector<std::uint8_t> indicesOf(int bits) {
    std::vector<std::uint8_t> indices(PIXELS);
    const unsigned mask = (1U << static_cast<unsigned>(bits)) - 1;
    for (std::size_t i = 0; i < PIXELS; ++i) {
        indices[i] = static_cast<std::uint8_t>(((i * 37U) ^ (i >> 7U)) & mask);
    }
    return indices;
}

std::vector<std::uint8_t> paletteOf() {
    std::vector<std::uint8_t> palette(DAZ_PALETTE_BYTES);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        palette[i] = static_cast<std::uint8_t>(i);
    }
    return palette;
}

// Kept colours below the entries: the encode counts as it goes.
int keptFor(int bits) {
    return bits == 8 ? 200 : 10;
}

std::vector<std::uint8_t> encoded(int bits) {
    const std::vector<std::uint8_t> indices = indicesOf(bits);
    const std::vector<std::uint8_t> palette = paletteOf();
    std::size_t size = 0;
    daz_encoded_size(SIDE, ROWS, bits, 1 << bits, keptFor(bits), &size);
    std::vector<std::uint8_t> daz(size);
    std::size_t written = 0;
    daz_encode(indices.data(), SIDE, SIDE, ROWS, bits, palette.data(), 1 << bits, keptFor(bits),
               0x1F2E, daz.data(), daz.size(), &written, nullptr);
    return daz;
}

void memcpyIndices(benchmark::State& state) {
    const std::vector<std::uint8_t> from = indicesOf(8);
    std::vector<std::uint8_t> to(PIXELS);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), PIXELS);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(PIXELS));
}

void decode(benchmark::State& state) {
    const auto bits = static_cast<int>(state.range(0));
    const std::vector<std::uint8_t> daz = encoded(bits);
    std::vector<std::uint8_t> indices(PIXELS);
    daz_info info{};
    for (auto _ : state) {
        if (daz_decode(daz.data(), daz.size(), nullptr, &info, nullptr, indices.data(),
                       indices.size()) != DAZ_OK) {
            state.SkipWithError("daz_decode failed");
            break;
        }
        benchmark::DoNotOptimize(indices.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(PIXELS));
}

void encode(benchmark::State& state) {
    const auto bits = static_cast<int>(state.range(0));
    const std::vector<std::uint8_t> indices = indicesOf(bits);
    const std::vector<std::uint8_t> palette = paletteOf();
    std::size_t size = 0;
    daz_encoded_size(SIDE, ROWS, bits, 1 << bits, keptFor(bits), &size);
    std::vector<std::uint8_t> daz(size);
    for (auto _ : state) {
        std::size_t written = 0;
        std::uint64_t undefined = 0;
        if (daz_encode(indices.data(), SIDE, SIDE, ROWS, bits, palette.data(), 1 << bits,
                       keptFor(bits), 0x1F2E, daz.data(), daz.size(), &written,
                       &undefined) != DAZ_OK) {
            state.SkipWithError("daz_encode failed");
            break;
        }
        benchmark::DoNotOptimize(undefined);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(PIXELS));
}

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void paired(benchmark::State& state, bool decoding) {
    const auto bits = static_cast<int>(state.range(0));
    const std::vector<std::uint8_t> indices = indicesOf(bits);
    const std::vector<std::uint8_t> palette = paletteOf();
    const std::vector<std::uint8_t> daz = encoded(bits);
    std::vector<std::uint8_t> copy(PIXELS);
    std::vector<std::uint8_t> out(decoding ? PIXELS : daz.size());
    std::vector<double> ratios;
    for (auto _ : state) {
        const double start = threadSeconds();
        std::memcpy(copy.data(), indices.data(), PIXELS);
        benchmark::ClobberMemory();
        const double copied = threadSeconds();
        daz_info info{};
        std::size_t written = 0;
        const int status =
            decoding ? daz_decode(daz.data(), daz.size(), nullptr, &info, nullptr, out.data(),
                                  out.size())
                     : daz_encode(indices.data(), SIDE, SIDE, ROWS, bits, palette.data(), 1 << bits,
                                  keptFor(bits), 0x1F2E, out.data(), out.size(), &written, nullptr);
        benchmark::ClobberMemory();
        const double done = threadSeconds();
        if (status != DAZ_OK) {
            state.SkipWithError("the call failed");
            break;
        }
        ratios.push_back((copied - start) / (done - copied));
    }
    if (!ratios.empty()) {
        std::sort(ratios.begin(), ratios.end());
        state.counters["vs_memcpy"] = ratios[ratios.size() / 2];
    }
}

void pairedDecode(benchmark::State& state) {
    paired(state, true);
}

void pairedEncode(benchmark::State& state) {
    paired(state, false);
}

} // namespace

BENCHMARK(pairedDecode)->Arg(8)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(pairedEncode)->Arg(8)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(memcpyIndices)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(decode)->Arg(8)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(encode)->Arg(8)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
