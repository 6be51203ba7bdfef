// Every call that passes its limits holds at most max_bytes: for each call
// and picture, the least max_bytes it takes is found, and its peak of
// allocated bytes measured under that limit, every allocation of the
// library and the format libraries counted through malloc itself.
#include "support.h"

#include "daz/daz.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<std::int64_t> heldNow{0};
std::atomic<std::int64_t> heldPeak{0};

void* counted(void* pointer) {
    if (pointer != nullptr) {
        const auto now = heldNow += static_cast<std::int64_t>(malloc_usable_size(pointer));
        std::int64_t peak = heldPeak.load();
        while (now > peak && !heldPeak.compare_exchange_weak(peak, now)) {
        }
    }
    return pointer;
}

void uncount(void* pointer) {
    if (pointer != nullptr) {
        heldNow -= static_cast<std::int64_t>(malloc_usable_size(pointer));
    }
}

} // namespace

extern "C" {
void* malloc(std::size_t size) {
    return counted(__libc_malloc(size));
}
void* calloc(std::size_t count, std::size_t size) {
    return counted(__libc_calloc(count, size));
}
void* realloc(void* pointer, std::size_t size) {
    uncount(pointer);
    return counted(__libc_realloc(pointer, size));
}
void* memalign(std::size_t alignment, std::size_t size) {
    return counted(__libc_memalign(alignment, size));
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    return counted(__libc_memalign(alignment, size));
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    *out = counted(__libc_memalign(alignment, size));
    return *out != nullptr ? 0 : ENOMEM;
}
void free(void* pointer) {
    uncount(pointer);
    __libc_free(pointer);
}
}

namespace {

using Call = std::function<int(const daz_limits&)>;

// The bytes call(limits) holds at its peak, beyond what was held before.
std::int64_t peakOf(const Call& call, const daz_limits& limits, int& result) {
    const std::int64_t before = heldNow.load();
    heldPeak = before;
    result = call(limits);
    return heldPeak.load() - before;
}

// The least max_bytes call takes (within 1/256), the other limits at their
// defaults.
std::uint64_t leastBytes(const Call& call) {
    daz_limits limits;
    daz_default_limits(&limits);
    std::uint64_t refused = 0;
    std::uint64_t taken = std::uint64_t{1} << 16U;
    for (limits.max_bytes = taken; call(limits) != DAZ_OK; limits.max_bytes = taken) {
        refused = taken;
        taken *= 2;
    }
    while (taken - refused > taken / 256) {
        limits.max_bytes = refused + (taken - refused) / 2;
        (call(limits) == DAZ_OK ? taken : refused) = limits.max_bytes;
    }
    return taken;
}

} // namespace

TEST(Memory, ACallHoldsNoMoreThanTheLimitItPassed) {
    TempDir dir;
    const RunResult made =
        runProgram({"/usr/bin/python3", ORVX_SOURCE_DIR "/tests/memory_cases.py", dir.path});
    ASSERT_EQ(made.status, 0) << made.err;
    const Bytes png = readFile(dir.file("photo.png"));
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    ASSERT_EQ(daz_load_rgba(png.data(), png.size(), nullptr, &width, &height, nullptr, 0), DAZ_OK);
    Bytes rgba(std::size_t{4} * width * height);
    ASSERT_EQ(
        daz_load_rgba(png.data(), png.size(), nullptr, &width, &height, rgba.data(), rgba.size()),
        DAZ_OK);
    Bytes indices(std::size_t{width} * height);
    Bytes palette(DAZ_PALETTE_BYTES);
    int entries = 0;
    daz_quantize_options plain;
    daz_default_quantize_options(&plain);
    daz_quantize_options dithered = plain;
    dithered.dither = DAZ_DITHER_DIFFUSION;
    dithered.colors = 16;

    const auto quantize = [&](const daz_quantize_options& options) -> Call {
        return [&, options](const daz_limits& limits) {
            return daz_quantize(rgba.data(), 4 * std::size_t{width}, width, height, &limits,
                                &options, palette.data(), &entries, indices.data(), indices.size());
        };
    };
    const auto remap = [&](const daz_limits& limits) {
        return daz_remap(rgba.data(), 4 * std::size_t{width}, width, height, &limits, &dithered,
                         palette.data(), 16, indices.data(), indices.size());
    };
    struct Case {
        std::string name;
        Call call;
    };
    std::vector<Case> cases = {
        {"daz_quantize, 256 colours", quantize(plain)},
        {"daz_quantize, 16 colours dithered", quantize(dithered)},
        {"daz_remap, dithered", remap},
    };
    Bytes out(std::size_t{64} << 20U);
    for (const std::string& name : folderEntries(dir.path)) {
        const auto file = std::make_shared<Bytes>(readFile(dir.file(name)));
        cases.push_back({"daz_load_rgba, " + name, [&, file](const daz_limits& limits) {
                             std::uint32_t w = 0;
                             std::uint32_t h = 0;
                             return daz_load_rgba(file->data(), file->size(), &limits, &w, &h,
                                                  rgba.data(), rgba.size());
                         }});
        cases.push_back({"daz_reduce, " + name, [&, file](const daz_limits& limits) {
                             std::size_t written = 0;
                             return daz_reduce(file->data(), file->size(), &limits, &dithered,
                                               nullptr, 0, 0, out.data(), out.size(), &written);
                         }});
    }
    const std::string source = dir.file("photo.png");
    cases.push_back({"daz_reduce_file", [&](const daz_limits& limits) {
                         return daz_reduce_file(source.c_str(), dir.file("out.daz").c_str(),
                                                &limits, &plain, nullptr, 0, 0);
                     }});
    for (const Case& c : cases) {
        const std::uint64_t least = leastBytes(c.call);
        daz_limits limits;
        daz_default_limits(&limits);
        limits.max_bytes = least;
        int result = DAZ_ERR_ARGUMENT;
        const std::int64_t peak = peakOf(c.call, limits, result);
        EXPECT_EQ(result, DAZ_OK) << c.name;
        EXPECT_LE(peak, static_cast<std::int64_t>(least)) << c.name << ": its least limit";
        // Refused from the header, before the image is decoded.
        limits.max_bytes = least - least / 8;
        const std::int64_t refusedPeak = peakOf(c.call, limits, result);
        EXPECT_EQ(result, DAZ_ERR_LIMITS) << c.name;
        EXPECT_LE(refusedPeak, static_cast<std::int64_t>(least / 4)) << c.name;
    }
}
