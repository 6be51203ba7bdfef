// Every kernel variant this processor runs, and memcpy of the same chunk, in
// one run:
//   cmake --workflow --preset bench && build/bench/bench/orvx_bench
// The context lines name the processor and the variant the tool would pick.
#include "convert/pixel_sink.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
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

// One variant on one chunk after another, the phase running on as in a
// conversion. Arguments: bits per pixel, colour count.
void runVariant(benchmark::State& state, PixelKernel kernel) {
    const auto bitsPerPixel = static_cast<int>(state.range(0));
    const auto colorCount = static_cast<int>(state.range(1));
    std::vector<std::uint8_t> chunk = chunkOfPixels();
    auto coding = std::make_unique<PixelCoding>();
    initPixelCoding(*coding, 0x1F2E, bitsPerPixel, colorCount);
    std::size_t phase = 0;
    std::uint64_t count = 0;
    for (auto _ : state) {
        count += kernel(*coding, chunk.data(), chunk.size(), phase);
        phase = (phase + chunk.size()) % KEYSTREAM_PERIOD;
        benchmark::DoNotOptimize(chunk.data());
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(count);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(chunk.size()));
}

// The whole per-chunk path of a conversion, through the picked variant.
void encodeChunkOfSink(benchmark::State& state) {
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

// Counting on (8-bit count 200, 4-bit count 9) and off (the whole palette).
void withCases(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"bpp", "colors"})
        ->Args({8, 200})
        ->Args({4, 9})
        ->Args({8, 256})
        ->Args({4, 16});
}

// "model name" and the vector flags of the first processor in /proc/cpuinfo.
void describeProcessor() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string model = "unknown";
    std::string vectorFlags;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0 && model == "unknown") {
            model = line.substr(line.find(':') + 2);
        } else if (line.rfind("flags", 0) == 0 && vectorFlags.empty()) {
            const std::string flags = line + " ";
            for (const char* flag : {"sse2", "avx2", "avx512f", "avx512bw"}) {
                if (flags.find(std::string(" ") + flag + " ") != std::string::npos) {
                    vectorFlags += vectorFlags.empty() ? flag : std::string(" ") + flag;
                }
            }
        }
    }
    benchmark::AddCustomContext("cpu_model", model);
    benchmark::AddCustomContext("cpu_vector_flags", vectorFlags);
    benchmark::AddCustomContext("kernel_picked", activeKernel().name);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    describeProcessor();
    benchmark::RegisterBenchmark("memcpyChunk", memcpyChunk);
    for (const KernelVariant& variant : kernelVariants()) {
        if (variant.supported()) {
            const std::string name = std::string("kernel/") + variant.name;
            withCases(benchmark::RegisterBenchmark(name.c_str(), runVariant, variant.run));
        }
    }
    withCases(benchmark::RegisterBenchmark("encodeChunk", encodeChunkOfSink));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
