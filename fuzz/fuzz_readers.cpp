#include "fuzz_readers.h"

#include "convert/pam/pam_format.h"
#include "convert/pgm/pgm_format.h"
#include "convert/ppm/ppm_format.h"
#if ORVX_HAVE_TIFF
#include "convert/tiff/tiff_format.h"
#endif

#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// What a fuzzer's input may make a reader hold or write: a limit like a
// caller's, small enough to keep each run quick.
constexpr std::uint64_t MOST_BYTES = std::uint64_t{16} << 20U;

int refuseBig(void* /*context*/, const orvx::OutputPlan& plan) {
    const bool big = plan.held > MOST_BYTES || plan.width * plan.rows > MOST_BYTES / 4 ||
                     (plan.bytes != orvx::UNKNOWN_SIZE && plan.bytes > MOST_BYTES);
    return big ? DAZ_ERR_LIMITS : DAZ_OK;
}

const orvx::PlanCheck CHECK{refuseBig, nullptr};

void require(bool rule) {
    if (!rule) {
        std::abort();
    }
}

bool isDazResult(int result) {
    return result == DAZ_OK || (result <= DAZ_ERR_ARGUMENT && result >= DAZ_ERR_NOT_INDEXED);
}

std::FILE* streamOver(std::vector<std::uint8_t>& bytes) {
    return bytes.empty() ? std::tmpfile() : fmemopen(bytes.data(), bytes.size(), "rb");
}

void readRgbaOnce(const orvx::FormatReader& reader, std::vector<std::uint8_t>& bytes) {
    std::FILE* source = streamOver(bytes);
    require(source != nullptr);
    orvx::RgbaImage image;
    const int result = reader.readRgba(source, &CHECK, false, image);
    std::fclose(source);
    require(isDazResult(result));
    require(result == DAZ_OK ? image.pixels.size() == std::size_t{4} * image.width * image.height
                             : image.pixels.empty());
}

} // namespace

#if ORVX_HAVE_TIFF
void fuzzTiffOne(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    readRgbaOnce(orvx::TIFF_READER, bytes);
    std::FILE* source = streamOver(bytes);
    static std::array<char, MOST_BYTES + 4096> written{};
    std::FILE* out = fmemopen(written.data(), written.size(), "w+b");
    require(source != nullptr && out != nullptr);
    int result = DAZ_OK;
    {
        orvx::ReaderState state;
        result = orvx::TIFF_READER.openIndices(source, orvx::IndexRequest{}, &CHECK, state);
        if (result == DAZ_OK) {
            result = orvx::TIFF_READER.writeIndices(state, orvx::DazOutput{out, true}, nullptr);
        }
    }
    std::fclose(out);
    std::fclose(source);
    require(isDazResult(result));
}
#endif

void fuzzNetpbmOne(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    readRgbaOnce(orvx::PPM_READER, bytes);
    readRgbaOnce(orvx::PAM_READER, bytes);
    readRgbaOnce(orvx::PGM_READER, bytes);
}
