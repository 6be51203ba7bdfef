// The per-chunk kernel against memcpy of the same chunk, in one run:
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVX_BENCH=ON
//   cmake --build build/bench --target orvx_bench && build/bench/bench/orvx_bench
#include "convert/pixel_sink.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

std::vector<std::uint8_t> chunkOfPixels() {
    std::vector<std::uint8_t> chunk(CHUNK_SIZE);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<std::uint8_t>((i * 37U) ^ (i >> 7U));
    }
    return chunk;
}

void memcpyChunk(benchmark::State& state) {
    const std::vector<std::uint8_t> from = chunkOfPixels();
    std::vector<std::uint8_t> to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(from.size()));
}

// Arguments: bits per pixel, colour count.
void encodeAndCountChunk(benchmark::State& state) {
    const auto bitsPerPixel = static_cast<int>(state.range(0));
    const auto colorCount = static_cast<int>(state.range(1));
    std::vector<std::uint8_t> chunk = chunkOfPixels();
    auto sink = std::make_unique<PixelSink>();
    initPixelSink(*sink, nullptr, 0x1F2E, bitsPerPixel, colorCount);
    for (auto _ : state) {
        encodeChunk(*sink, chunk.data(), chunk.size());
        benchmark::DoNotOptimize(chunk.data());
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(sink->undefinedCount);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(chunk.size()));
}

} // namespace

BENCHMARK(memcpyChunk);
BENCHMARK(encodeAndCountChunk)
    ->ArgNames({"bpp", "colors"})
    ->Args({8, 200})
    ->Args({4, 9})
    ->Args({8, 256})
    ->Args({4, 16});

BENCHMARK_MAIN();
