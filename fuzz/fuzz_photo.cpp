#include "fuzz_photo.h"

#include <cstdlib>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Small enough that a hostile header can't make a run slow.
int smallLimits(void* /*context*/, const orvx::OutputPlan& plan) {
    const bool past = plan.width > DAZ_MAX_WIDTH || plan.rows > DAZ_MAX_ROWS ||
                      plan.width * plan.rows > (std::uint64_t{1} << 22U) ||
                      plan.held > (std::uint64_t{1} << 26U);
    return past ? DAZ_ERR_LIMITS : DAZ_OK;
}

int readOnce(const orvx::FormatReader& reader, std::vector<std::uint8_t>& bytes, bool sizeOnly,
             orvx::RgbaImage& image) {
    const orvx::PlanCheck check{smallLimits, nullptr};
    std::FILE* stream = fmemopen(bytes.data(), bytes.size(), "rb");
    require(stream != nullptr);
    const int code = reader.readRgba(stream, &check, sizeOnly, image);
    std::fclose(stream);
    // Every result a photo reader may give.
    require(code == DAZ_OK || code == DAZ_ERR_READ || code == DAZ_ERR_BAD_IMAGE ||
            code == DAZ_ERR_LIMITS || code == DAZ_ERR_MEMORY);
    require(code == DAZ_OK || image.pixels.empty());
    return code;
}

} // namespace

void fuzzPhotoOne(const orvx::FormatReader& reader, const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return; // a stream on no bytes can't be had
    }
    std::vector<std::uint8_t> bytes(data, data + size);
    orvx::RgbaImage sized;
    if (readOnce(reader, bytes, true, sized) != DAZ_OK) {
        return;
    }
    require(sized.pixels.empty() && sized.width > 0 && sized.height > 0);
    orvx::RgbaImage image;
    if (readOnce(reader, bytes, false, image) != DAZ_OK) {
        return;
    }
    // A cropped HEIF may come out smaller than its handle said; the others
    // as their headers say.
    const bool mayCrop = reader.format == DAZ_FORMAT_HEIF || reader.format == DAZ_FORMAT_AVIF;
    require(mayCrop ? std::uint64_t{image.width} * image.height <=
                          std::uint64_t{sized.width} * sized.height
                    : image.width == sized.width && image.height == sized.height);
    require(image.pixels.size() == std::size_t{4} * image.width * image.height);
}
