// HEIF (HEVC) and AVIF (AV1) as RGBA through libheif (libde265, libaom): the primary image,
// with the rotation, mirroring and cropping its file gives (libheif applies
// them), its alpha when it has one, higher depths cut to 8 bits. ICC
// profiles and the other images of the file (thumbnails, depth maps, the
// rest of a sequence) are not used.
//
// libheif reads the stream itself, through callbacks: only the boxes it
// needs, then the primary image's coded data, which it holds whole while it
// decodes. The size comes from the primary image's handle, before any
// decoding; past that, libheif is told no image of the file may be larger.
#include "convert/heif/heif_format.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <libheif/heif.h>
#include <memory>

namespace orvx {

namespace {

// What a heif_reader reads: the stream, its size, and whether libheif
// asked for bytes past its end (the file cut short) or a read failed.
struct HeifStream {
    std::FILE* file = nullptr;
    std::int64_t size = 0;
    bool cut = false;
};

HeifStream& streamOf(void* data) {
    return *static_cast<HeifStream*>(data);
}

std::int64_t positionOf(void* data) {
    return std::ftell(streamOf(data).file);
}

int readBytes(void* out, std::size_t size, void* data) {
    HeifStream& stream = streamOf(data);
    if (std::fread(out, 1, size, stream.file) != size) {
        stream.cut = true;
        return 1;
    }
    return 0;
}

int seekTo(std::int64_t position, void* data) {
    HeifStream& stream = streamOf(data);
    if (position < 0 || position > stream.size) {
        stream.cut = true;
        return 1;
    }
    return std::fseek(stream.file, static_cast<long>(position), SEEK_SET) == 0 ? 0 : 1;
}

heif_reader_grow_status waitForSize(std::int64_t target, void* data) {
    return target > streamOf(data).size ? heif_reader_grow_status_size_beyond_eof
                                        : heif_reader_grow_status_size_reached;
}

const heif_reader STREAM_READER{1, positionOf, readBytes, seekTo, waitForSize};

// Whether the file's top-level boxes run past its end: libheif takes a
// box cut short for one missing, and says so ("no meta box"). Put back at
// the file's start.
bool boxesCut(std::FILE* file, std::int64_t size) {
    std::int64_t at = 0;
    bool cut = false;
    while (at < size && !cut) {
        std::array<std::uint8_t, 16> header{};
        const std::size_t got = std::fseek(file, static_cast<long>(at), SEEK_SET) == 0
                                    ? std::fread(header.data(), 1, header.size(), file)
                                    : 0;
        std::uint64_t length = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            length = length << 8 | header[i];
        }
        std::size_t needed = 8;
        if (length == 1) { // the length in 64 bits after the type
            needed = 16;
            length = 0;
            for (std::size_t i = 8; i < 16; ++i) {
                length = length << 8 | header[i];
            }
        } else if (length == 0) { // up to the end
            length = static_cast<std::uint64_t>(size - at);
        }
        if (got < needed) {
            cut = true;
        } else if (length < needed) {
            break; // damaged, not cut
        } else {
            cut = length > static_cast<std::uint64_t>(size - at);
            at += static_cast<std::int64_t>(length);
        }
    }
    std::rewind(file);
    return cut;
}

int resultOf(const heif_error& error, HeifStream& stream) {
    if (error.code == heif_error_Ok) {
        return DAZ_OK;
    }
    if (stream.cut || error.subcode == heif_suberror_End_of_data ||
        boxesCut(stream.file, stream.size)) {
        return DAZ_ERR_READ;
    }
    if (error.subcode == heif_suberror_Security_limit_exceeded) {
        return DAZ_ERR_LIMITS;
    }
    if (error.code == heif_error_Memory_allocation_error) {
        return DAZ_ERR_MEMORY;
    }
    return DAZ_ERR_BAD_IMAGE;
}

// libheif registers its decoders once (heif_init counts its users); this
// library stays one of them for the process's life, so that it never
// takes them away from a program that uses libheif itself.
bool heifReady() {
    static const bool ready = heif_init(nullptr).code == heif_error_Ok;
    return ready;
}

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(const heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(const heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

// The stream's size, from its start, which it is put back to.
std::int64_t sizeOf(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const long size = std::ftell(file);
    return std::fseek(file, 0, SEEK_SET) == 0 ? size : -1;
}

// The decoded image's rows into pixels (width x height, as checked): a
// cropped image may come out smaller than its handle said, never larger.
int takeRows(const heif_image* decoded, std::uint32_t& width, std::uint32_t& height,
             std::vector<std::uint8_t>& pixels) {
    const int decodedWidth = heif_image_get_width(decoded, heif_channel_interleaved);
    const int decodedHeight = heif_image_get_height(decoded, heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    if (plane == nullptr || decodedWidth <= 0 || decodedHeight <= 0 ||
        static_cast<std::uint64_t>(decodedWidth) * static_cast<std::uint64_t>(decodedHeight) >
            std::uint64_t{width} * height ||
        stride < 4 * decodedWidth) {
        return DAZ_ERR_BAD_IMAGE;
    }
    width = static_cast<std::uint32_t>(decodedWidth);
    height = static_cast<std::uint32_t>(decodedHeight);
    pixels.resize(std::size_t{4} * width * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::memcpy(pixels.data() + std::size_t{4} * width * y,
                    plane + static_cast<std::size_t>(stride) * y, std::size_t{4} * width);
    }
    return DAZ_OK;
}

} // namespace

int readHeifRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    HeifStream stream;
    stream.file = source;
    stream.size = sizeOf(source);
    if (stream.size < 0) {
        return DAZ_ERR_READ;
    }
    if (!heifReady()) {
        return DAZ_ERR_BAD_IMAGE;
    }
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (context == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    heif_context_set_max_decoding_threads(context.get(), 0);
    int result = resultOf(
        heif_context_read_from_reader(context.get(), &STREAM_READER, &stream, nullptr), stream);
    if (result != DAZ_OK) {
        return result;
    }
    heif_image_handle* primary = nullptr;
    result = resultOf(heif_context_get_primary_image_handle(context.get(), &primary), stream);
    const std::unique_ptr<const heif_image_handle, HandleDeleter> handle(primary);
    if (result != DAZ_OK) {
        return result;
    }
    const int handleWidth = heif_image_handle_get_width(handle.get());
    const int handleHeight = heif_image_handle_get_height(handle.get());
    if (handleWidth <= 0 || handleHeight <= 0) {
        return DAZ_ERR_BAD_IMAGE;
    }
    auto width = static_cast<std::uint32_t>(handleWidth);
    auto height = static_cast<std::uint32_t>(handleHeight);
    // Held beside the image: the file's coded data, libheif's RGBA image and
    // the decoder's planes (up to 16 bits a sample, 4:4:4, with alpha).
    const std::uint64_t pixels = std::uint64_t{width} * height;
    result = checkRgbaSize(check, width, height,
                           static_cast<std::uint64_t>(stream.size) + 4 * pixels + 8 * pixels);
    if (result != DAZ_OK) {
        return result;
    }
    if (sizeOnly) {
        image.width = width;
        image.height = height;
        return DAZ_OK;
    }
    // The coded image may be a little larger than the one shown (HEVC and AV1
    // code whole blocks, the crop comes after).
    constexpr int CODED_MARGIN = 256;
    heif_context_set_maximum_image_size_limit(
        context.get(),
        std::min(std::max(handleWidth, handleHeight), INT_MAX - CODED_MARGIN) + CODED_MARGIN);
    const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(
        heif_decoding_options_alloc());
    if (options == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    options->convert_hdr_to_8bit = 1;
    // AV1 through libaom rather than dav1d: Debian 12's libheif hands dav1d
    // a damaged item's empty data, which dav1d reports on standard error,
    // and leaks its reference. Both decode alike, as AV1 defines; libheif
    // takes its usual decoder for HEVC, or where libaom is missing.
    options->decoder_id = "aom";
    heif_image* decodedImage = nullptr;
    result = resultOf(heif_decode_image(handle.get(), &decodedImage, heif_colorspace_RGB,
                                        heif_chroma_interleaved_RGBA, options.get()),
                      stream);
    const std::unique_ptr<const heif_image, ImageDeleter> decoded(decodedImage);
    if (result != DAZ_OK) {
        return result;
    }
    if (decoded == nullptr) {
        return DAZ_ERR_BAD_IMAGE;
    }
    std::vector<std::uint8_t> rows;
    result = takeRows(decoded.get(), width, height, rows);
    if (result != DAZ_OK) {
        return result;
    }
    image.width = width;
    image.height = height;
    image.pixels = std::move(rows);
    return DAZ_OK;
}

} // namespace orvx
