// Every kernel variant this processor runs, and memcpy of the same chunk, in
// one run:
//   cmake --workflow --preset bench && build/bench/bench/orvx_bench
// The context lines name the processor and the variant the tool would pick.
//
// kernel/... runs on one chunk that stays in L1. In a conversion each chunk
// has just been read from the page cache, which leaves it further out:
// readChunk reads chunk after chunk of a 64 MiB file in /dev/shm (or
// $TMPDIR), and readAndEncode/... runs a variant on each as it arrives. The
// difference between the two is what the kernel adds to a conversion.
#include "convert/pixel_sink.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

using namespace orvx;

namespace {

// A chunk at the start of a cache line, where a conversion keeps the pixel
// bytes of every chunk after the first. (A vector's 32 KiB from malloc sit
// 16 bytes into a line, and 64-byte vectors then run at two thirds of the
// speed.)
struct Chunk {
    alignas(64) std::array<std::uint8_t, CHUNK_SIZE> bytes;
    std::uint8_t* data() { return bytes.data(); }
    [[nodiscard]] const std::uint8_t* data() const { return bytes.data(); }
    [[nodiscard]] static constexpr std::size_t size() { return CHUNK_SIZE; }
};

std::unique_ptr<Chunk> chunkOfPixels() {
    auto chunk = std::make_unique<Chunk>();
    for (std::size_t i = 0; i < chunk->size(); ++i) {
        chunk->bytes[i] = static_cast<std::uint8_t>((i * 37U) ^ (i >> 7U));
    }
    return chunk;
}

void memcpyChunk(benchmark::State& state) {
    const std::unique_ptr<Chunk> from = chunkOfPixels();
    const std::unique_ptr<Chunk> to = chunkOfPixels();
    for (auto _ : state) {
        std::memcpy(to->data(), from->data(), Chunk::size());
        benchmark::DoNotOptimize(to->data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Chunk::size()));
}

// The whole per-chunk path of a conversion, through the picked variant.
void encodeChunkOfSink(benchmark::State& state) {
    const auto bitsPerPixel = static_cast<int>(state.range(0));
    const auto colorCount = static_cast<int>(state.range(1));
    const std::unique_ptr<Chunk> chunk = chunkOfPixels();
    auto sink = std::make_unique<PixelSink>();
    initPixelSink(*sink, nullptr, 0x1F2E, bitsPerPixel, colorCount);
    for (auto _ : state) {
        encodeChunk(*sink, chunk->data(), Chunk::size());
        benchmark::DoNotOptimize(chunk->data());
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(sink->undefinedCount);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Chunk::size()));
}

// A 64 MiB file of pixels, in the page cache, that the read benchmarks
// stream through; removed when the run ends.
class SourceFile {
  public:
    static constexpr std::size_t SIZE = std::size_t{64} << 20U;

    SourceFile() {
        const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        path_ = std::string(folder != nullptr ? folder : "/tmp") + "/orvx-bench-XXXXXX";
        descriptor_ = mkstemp(path_.data());
        if (descriptor_ < 0) {
            return;
        }
        const std::unique_ptr<Chunk> chunk = chunkOfPixels();
        for (std::size_t at = 0; at < SIZE; at += Chunk::size()) {
            if (write(descriptor_, chunk->data(), Chunk::size()) !=
                static_cast<ssize_t>(Chunk::size())) {
                close(descriptor_);
                unlink(path_.c_str());
                descriptor_ = -1;
                return;
            }
        }
    }
    ~SourceFile() {
        if (descriptor_ >= 0) {
            close(descriptor_);
            unlink(path_.c_str());
        }
    }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Reads the next chunk of the file, from the start again after the end;
    // false if the file could not be made or read.
    bool readNext(Chunk& chunk) {
        if (descriptor_ < 0) {
            return false;
        }
        const auto got = pread(descriptor_, chunk.data(), Chunk::size(), static_cast<off_t>(at_));
        at_ = (at_ + Chunk::size()) % SIZE;
        return got == static_cast<ssize_t>(Chunk::size());
    }

  private:
    std::string path_;
    int descriptor_ = -1;
    std::size_t at_ = 0;
};

SourceFile& sourceFile() {
    static SourceFile file;
    return file;
}

// A variant on one chunk after another, the phase running on as in a
// conversion; with source, each chunk is first read from it, and kernel may
// be null (the read alone). Arguments: bits per pixel, colour count.
void encodeChunks(benchmark::State& state, PixelKernel kernel, SourceFile* source) {
    const auto bitsPerPixel = static_cast<int>(state.range(0));
    const auto colorCount = static_cast<int>(state.range(1));
    const std::unique_ptr<Chunk> chunk = chunkOfPixels();
    auto coding = std::make_unique<PixelCoding>();
    initPixelCoding(*coding, 0x1F2E, bitsPerPixel, colorCount);
    std::size_t phase = 0;
    std::uint64_t count = 0;
    for (auto _ : state) {
        if (source != nullptr && !source->readNext(*chunk)) {
            state.SkipWithError("no file to read in /dev/shm or $TMPDIR");
            break;
        }
        if (kernel != nullptr) {
            count += kernel(*coding, chunk->data(), Chunk::size(), phase);
            phase = (phase + Chunk::size()) % KEYSTREAM_PERIOD;
        }
        benchmark::DoNotOptimize(chunk->data());
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(count);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Chunk::size()));
}

// The chunk stays in L1.
void runVariant(benchmark::State& state, PixelKernel kernel) {
    encodeChunks(state, kernel, nullptr);
}

// Each chunk has just been read, as in a conversion.
void readAndEncode(benchmark::State& state, PixelKernel kernel) {
    encodeChunks(state, kernel, &sourceFile());
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
    benchmark::RegisterBenchmark("readChunk", readAndEncode, nullptr)->Args({8, 256});
    for (const KernelVariant& variant : kernelVariants()) {
        if (variant.supported() && std::strcmp(variant.name, "scalar") != 0) {
            const std::string name = std::string("readAndEncode/") + variant.name;
            withCases(benchmark::RegisterBenchmark(name.c_str(), readAndEncode, variant.run));
        }
    }
    withCases(benchmark::RegisterBenchmark("encodeChunk", encodeChunkOfSink));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
