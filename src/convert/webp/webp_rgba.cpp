// A WebP as RGBA through libwebp: lossy (fancy upsampling, as dwebp),
// lossless, either with alpha; an animation's first frame through
// libwebpdemux's animation decoder, composed on its canvas (transparent
// black where the frame doesn't cover it; the background colour the file
// suggests is not used, as libwebp's own tools don't). ICC profiles, EXIF
// and XMP are not applied.
//
// The size comes from the first bytes (WebPGetFeatures: the VP8X canvas,
// or the one frame's header); once the plan is taken, the whole file (as
// long as its RIFF header says) is read into memory and decoded from there.
#include "convert/webp/webp_format.h"

#include <array>
#include <cstring>
#include <memory>
#include <webp/decode.h>
#include <webp/demux.h>

namespace orvx {

namespace {

// Enough for every header WebPGetFeatures reads: RIFF (12), a chunk header
// (8) and a frame header (10), or a VP8X chunk (18).
constexpr std::size_t HEAD_BYTES = 64;
constexpr std::uint64_t RIFF_HEADER = 8;

int resultOf(VP8StatusCode status) {
    switch (status) {
    case VP8_STATUS_OK:
        return DAZ_OK;
    case VP8_STATUS_OUT_OF_MEMORY:
        return DAZ_ERR_MEMORY;
    case VP8_STATUS_NOT_ENOUGH_DATA:
        return DAZ_ERR_READ;
    default:
        return DAZ_ERR_BAD_IMAGE;
    }
}

// The stream's bytes from its start, when it tells: -1 when it doesn't.
long streamSize(std::FILE* source) {
    if (std::fseek(source, 0, SEEK_END) != 0) {
        return -1;
    }
    const long size = std::ftell(source);
    return std::fseek(source, 0, SEEK_SET) == 0 ? size : -1;
}

// What libwebp holds whole beside the image and the file: a lossless
// frame's ARGB pixels with its transforms' and its entropy image's (measured
// at 6.4 bytes a pixel on a noisy photo), a lossy frame's macroblock rows and alpha plane, an
// animation's two canvases and its frame.
std::uint64_t heldByLibwebp(const WebPBitstreamFeatures& features) {
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(features.width) * static_cast<std::uint64_t>(features.height);
    if (features.has_animation != 0) {
        return 12 * pixels;
    }
    if (features.format == 2) {
        return 7 * pixels;
    }
    const std::uint64_t rows = 64 * static_cast<std::uint64_t>(features.width);
    return rows + (features.has_alpha != 0 ? 2 * pixels : 0);
}

int decodeStill(const std::vector<std::uint8_t>& file, std::uint32_t width, std::uint32_t height,
                std::uint8_t* pixels) {
    WebPDecoderConfig config;
    if (WebPInitDecoderConfig(&config) == 0) {
        return DAZ_ERR_BAD_IMAGE;
    }
    config.output.colorspace = MODE_RGBA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = pixels;
    config.output.u.RGBA.stride = static_cast<int>(4 * width);
    config.output.u.RGBA.size = std::size_t{4} * width * height;
    const VP8StatusCode status = WebPDecode(file.data(), file.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status == VP8_STATUS_OK && (config.output.width != static_cast<int>(width) ||
                                    config.output.height != static_cast<int>(height))) {
        return DAZ_ERR_BAD_IMAGE;
    }
    return resultOf(status);
}

struct AnimationDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

int decodeFirstFrame(const std::vector<std::uint8_t>& file, std::uint32_t width,
                     std::uint32_t height, std::uint8_t* pixels) {
    WebPAnimDecoderOptions options;
    if (WebPAnimDecoderOptionsInit(&options) == 0) {
        return DAZ_ERR_BAD_IMAGE;
    }
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data{file.data(), file.size()};
    const std::unique_ptr<WebPAnimDecoder, AnimationDecoderDeleter> decoder(
        WebPAnimDecoderNew(&data, &options));
    WebPAnimInfo info;
    if (decoder == nullptr || WebPAnimDecoderGetInfo(decoder.get(), &info) == 0 ||
        info.canvas_width != width || info.canvas_height != height) {
        return DAZ_ERR_BAD_IMAGE;
    }
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) == 0 || canvas == nullptr) {
        return DAZ_ERR_BAD_IMAGE;
    }
    std::memcpy(pixels, canvas, std::size_t{4} * width * height);
    return DAZ_OK;
}

} // namespace

int readWebpRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    std::array<std::uint8_t, HEAD_BYTES> head{};
    const std::size_t got = std::fread(head.data(), 1, head.size(), source);
    if (std::ferror(source) != 0) {
        return DAZ_ERR_READ;
    }
    if (got < 12) {
        return DAZ_ERR_READ;
    }
    if (std::memcmp(head.data(), "RIFF", 4) != 0 || std::memcmp(head.data() + 8, "WEBP", 4) != 0) {
        return DAZ_ERR_BAD_IMAGE;
    }
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(head.data(), got, &features);
    if (status != VP8_STATUS_OK) {
        return status == VP8_STATUS_NOT_ENOUGH_DATA && got == head.size() ? DAZ_ERR_BAD_IMAGE
                                                                          : resultOf(status);
    }
    if (features.width <= 0 || features.height <= 0) {
        return DAZ_ERR_BAD_IMAGE;
    }
    const auto width = static_cast<std::uint32_t>(features.width);
    const auto height = static_cast<std::uint32_t>(features.height);
    const std::uint64_t riff = std::uint64_t{head[4]} | std::uint64_t{head[5]} << 8 |
                               std::uint64_t{head[6]} << 16 | std::uint64_t{head[7]} << 24;
    const std::uint64_t fileBytes = riff + RIFF_HEADER;
    const long size = streamSize(source);
    if (size >= 0 && static_cast<std::uint64_t>(size) < fileBytes) {
        return DAZ_ERR_READ;
    }
    const int checked = checkRgbaSize(check, width, height, fileBytes + heldByLibwebp(features));
    if (checked != DAZ_OK) {
        return checked;
    }
    if (sizeOnly) {
        image.width = width;
        image.height = height;
        return DAZ_OK;
    }
    if (size < 0 && std::fseek(source, 0, SEEK_SET) != 0) {
        return DAZ_ERR_READ;
    }
    std::vector<std::uint8_t> file(static_cast<std::size_t>(fileBytes));
    if (std::fread(file.data(), 1, file.size(), source) != file.size()) {
        return DAZ_ERR_READ;
    }
    std::vector<std::uint8_t> pixels(std::size_t{4} * width * height);
    const int result = features.has_animation != 0
                           ? decodeFirstFrame(file, width, height, pixels.data())
                           : decodeStill(file, width, height, pixels.data());
    if (result != DAZ_OK) {
        return result;
    }
    image.width = width;
    image.height = height;
    image.pixels = std::move(pixels);
    return DAZ_OK;
}

} // namespace orvx
