// The GIF reader on any bytes: the indices kept into daz (to a stream that
// seeks, and to one that doesn't), the RGBA read, and a daz image it made
// written back out as a GIF. Aborts on a result outside the reader's own
// errors, or a daz file written whose header disagrees with the RGBA size.
#include "convert/gif/gif_format.h"
#include "fuzz_entry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using orvx::GIF_READER;

// Small images only, so that the fuzzer runs fast.
int smallOnly(void* /*context*/, const orvx::OutputPlan& plan) {
    return plan.width * plan.rows > (std::uint64_t{1} << 22U) ? int{DAZ_ERR_LIMITS} : int{DAZ_OK};
}

bool expected(int result) {
    return result == DAZ_OK || result == DAZ_ERR_READ || result == DAZ_ERR_BAD_IMAGE ||
           result == DAZ_ERR_LIMITS || result == DAZ_ERR_MEMORY;
}

// The daz file, or empty after a failure.
std::FILE* indices(std::FILE* source, bool seekable) {
    const orvx::PlanCheck check{smallOnly, nullptr};
    orvx::ReaderState state;
    int result = GIF_READER.openIndices(source, orvx::IndexRequest{}, &check, state);
    std::FILE* out = std::tmpfile();
    if (result == DAZ_OK && out != nullptr) {
        result = GIF_READER.writeIndices(state, orvx::DazOutput{out, seekable}, nullptr);
    }
    if (!expected(result)) {
        std::abort();
    }
    if (result != DAZ_OK && out != nullptr) {
        std::fclose(out);
        return nullptr;
    }
    return out;
}

} // namespace

void fuzzGifOne(const std::uint8_t* data, std::size_t size) {
    std::FILE* source = std::tmpfile();
    if (source == nullptr || std::fwrite(data, 1, size, source) != size) {
        std::abort();
    }
    const orvx::PlanCheck check{smallOnly, nullptr};
    orvx::RgbaImage image;
    std::rewind(source);
    const int rgba = GIF_READER.readRgba(source, &check, false, image);
    if (!expected(rgba)) {
        std::abort();
    }
    for (const bool seekable : {true, false}) {
        std::FILE* daz = indices(source, seekable);
        if (daz == nullptr) {
            continue;
        }
        std::uint8_t header[24] = {};
        std::rewind(daz);
        if (std::fread(header, 1, sizeof header, daz) != sizeof header ||
            (rgba == DAZ_OK && (header[4] | header[5] << 8U) != static_cast<int>(image.width))) {
            std::abort();
        }
        orvx::ReaderState state;
        std::rewind(daz);
        if (GIF_READER.openExport(daz, nullptr, state) != DAZ_OK) {
            std::abort();
        }
        std::FILE* out = std::tmpfile();
        if (out == nullptr || GIF_READER.writeExport(state, out) != DAZ_OK) {
            std::abort();
        }
        std::fclose(out);
        std::fclose(daz);
    }
    std::fclose(source);
}

#ifndef ORVX_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzGifOne(data, size);
    return 0;
}
#endif
