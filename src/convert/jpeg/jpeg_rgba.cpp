// A JPEG as RGBA through libjpeg-turbo: baseline and progressive, grey,
// YCbCr, RGB, CMYK and YCCK, with libjpeg's defaults (the accurate integer
// DCT and fancy upsampling, as djpeg), then turned upright by the EXIF
// orientation. ICC profiles are not applied.
//
// CMYK as the common decoders take it (Pillow, the browsers): the samples
// stored inverted, as Adobe's programs write them, whether or not an Adobe
// marker says so; each channel is then the product of its own and black's,
// R = K' - K' x C / 255 with C = 255 - stored cyan, K' = stored black,
// rounded as Pillow rounds.
//
// libjpeg reports an error by a call that must not return: ours jumps back
// to the setjmp of withJpegJump, whose frame holds nothing needing
// clean-up, and no frame it passes over owns anything. Its messages are
// dropped. Warnings (damaged entropy data, which it fills in) are taken as
// browsers take them, except the end of the file before the image is whole:
// a file cut short is DAZ_ERR_READ, not a picture with a grey end.
#include "convert/jpeg/jpeg_format.h"
#include "convert/jpeg/jpeg_orientation.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

// After <cstdio>: jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace orvx {

namespace {

// Past this many scans a progressive file is taken as hostile: each scan
// goes over the whole image once more. Encoders write about ten.
constexpr int MAX_SCANS = 500;
constexpr std::size_t INPUT_CHUNK = 16384;
// The rows libjpeg may write in one call.
constexpr int ROWS_AT_ONCE = 16;

struct JpegReading {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    std::FILE* file = nullptr;
    int failure = DAZ_ERR_BAD_IMAGE; // what a jump means
    bool created = false;
    std::array<JOCTET, INPUT_CHUNK> input{};

    JpegReading() = default;
    JpegReading(const JpegReading&) = delete;
    JpegReading& operator=(const JpegReading&) = delete;
    ~JpegReading() {
        if (created) {
            jpeg_destroy_decompress(&cinfo);
        }
    }
};

JpegReading& readingOf(j_common_ptr cinfo) {
    return *static_cast<JpegReading*>(cinfo->client_data);
}

JpegReading& readingOf(j_decompress_ptr cinfo) {
    return *static_cast<JpegReading*>(cinfo->client_data);
}

[[noreturn]] void failWith(JpegReading& reading, int failure) {
    reading.failure = failure;
    std::longjmp(reading.jump, 1);
}

[[noreturn]] void jumpOnJpegError(j_common_ptr cinfo) {
    const int code = cinfo->err->msg_code;
    const bool memory = code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE;
    failWith(readingOf(cinfo), memory ? DAZ_ERR_MEMORY : DAZ_ERR_BAD_IMAGE);
}

void dropJpegMessage(j_common_ptr /*cinfo*/) {}

// Warnings are counted and dropped, save one: the file ending early, which
// a source of libjpeg's own would report while feeding a fake end.
void takeJpegWarning(j_common_ptr cinfo, int level) {
    if (level >= 0) {
        return;
    }
    if (cinfo->err->msg_code == JWRN_JPEG_EOF) {
        failWith(readingOf(cinfo), DAZ_ERR_READ);
    }
    ++cinfo->err->num_warnings;
}

void checkScans(j_common_ptr cinfo) {
    JpegReading& reading = readingOf(cinfo);
    if (reading.cinfo.input_scan_number > MAX_SCANS) {
        failWith(reading, DAZ_ERR_BAD_IMAGE);
    }
}

// The source: the stream from its position, a chunk at a time; its end
// before libjpeg has what it needs is the file cut short.
void startSource(j_decompress_ptr /*cinfo*/) {}

boolean fillSource(j_decompress_ptr cinfo) {
    JpegReading& reading = readingOf(cinfo);
    const std::size_t got = std::fread(reading.input.data(), 1, reading.input.size(), reading.file);
    if (got == 0) {
        failWith(reading, DAZ_ERR_READ);
    }
    reading.source.next_input_byte = reading.input.data();
    reading.source.bytes_in_buffer = got;
    return TRUE;
}

void skipSource(j_decompress_ptr cinfo, long count) {
    JpegReading& reading = readingOf(cinfo);
    if (count <= 0) {
        return;
    }
    auto left = static_cast<std::size_t>(count);
    while (left > reading.source.bytes_in_buffer) {
        left -= reading.source.bytes_in_buffer;
        static_cast<void>(fillSource(cinfo));
    }
    reading.source.next_input_byte += left;
    reading.source.bytes_in_buffer -= left;
}

void endSource(j_decompress_ptr /*cinfo*/) {}

// Runs call, which calls into libjpeg, and returns DAZ_OK; when libjpeg
// fails on the way, the failure its jump carries. (A function that calls
// setjmp is never inlined, so the landing frame stays this one.)
template <typename Call> int withJpegJump(JpegReading& reading, Call call) {
    if (setjmp(reading.jump) != 0) {
        return reading.failure;
    }
    call();
    return DAZ_OK;
}

int startReading(JpegReading& reading, std::FILE* source) {
    reading.file = source;
    reading.cinfo.err = jpeg_std_error(&reading.errors);
    reading.errors.error_exit = jumpOnJpegError;
    reading.errors.output_message = dropJpegMessage;
    reading.errors.emit_message = takeJpegWarning;
    reading.cinfo.client_data = &reading;
    return withJpegJump(reading, [&reading] {
        jpeg_create_decompress(&reading.cinfo);
        reading.created = true;
        reading.source.init_source = startSource;
        reading.source.fill_input_buffer = fillSource;
        reading.source.skip_input_data = skipSource;
        reading.source.resync_to_restart = jpeg_resync_to_restart;
        reading.source.term_source = endSource;
        reading.cinfo.src = &reading.source;
        reading.progress.progress_monitor = checkScans;
        reading.cinfo.progress = &reading.progress;
        jpeg_save_markers(&reading.cinfo, JPEG_APP0 + 1, 0xFFFF);
        static_cast<void>(jpeg_read_header(&reading.cinfo, TRUE));
    });
}

// The orientation of the first APP1 marker that is EXIF.
int orientationOf(const jpeg_decompress_struct& cinfo) {
    for (jpeg_saved_marker_ptr marker = cinfo.marker_list; marker != nullptr;
         marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 1 && marker->data_length >= 6 &&
            std::memcmp(marker->data, "Exif\0\0", 6) == 0) {
            return exifOrientation(marker->data, marker->data_length);
        }
    }
    return 1;
}

// What libjpeg holds whole besides a few rows: the markers kept, and the
// image's coefficients when its scans come one after another (progressive,
// or components apart), each block 64 samples of 2 bytes.
std::uint64_t heldByLibjpeg(j_decompress_ptr cinfo) {
    std::uint64_t held = 0;
    for (jpeg_saved_marker_ptr marker = cinfo->marker_list; marker != nullptr;
         marker = marker->next) {
        held += marker->data_length;
    }
    if (jpeg_has_multiple_scans(cinfo) != 0) {
        for (int c = 0; c < cinfo->num_components; ++c) {
            const jpeg_component_info& component = cinfo->comp_info[c];
            const std::uint64_t across = std::uint64_t{component.width_in_blocks} +
                                         static_cast<std::uint64_t>(component.h_samp_factor);
            const std::uint64_t down = std::uint64_t{component.height_in_blocks} +
                                       static_cast<std::uint64_t>(component.v_samp_factor);
            held += across * down * DCTSIZE2 * sizeof(JCOEF);
        }
    }
    return held;
}

bool isCmyk(J_COLOR_SPACE space) {
    return space == JCS_CMYK || space == JCS_YCCK;
}

std::uint8_t cmykChannel(std::uint32_t ink, std::uint32_t black) {
    const std::uint32_t product = ink * black + 128;
    return static_cast<std::uint8_t>(black - (((product >> 8) + product) >> 8));
}

// A row of inverted CMYK into RGBA, in place.
void cmykToRgba(std::uint8_t* row, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x) {
        std::uint8_t* pixel = row + std::size_t{4} * x;
        const std::uint32_t black = pixel[3];
        pixel[0] = cmykChannel(255U - pixel[0], black);
        pixel[1] = cmykChannel(255U - pixel[1], black);
        pixel[2] = cmykChannel(255U - pixel[2], black);
        pixel[3] = 255;
    }
}

struct Layout {
    std::uint32_t width = 0; // as stored
    std::uint32_t height = 0;
    int orientation = 1;
    bool cmyk = false;
};

void placeStoredRow(const Layout& layout, std::uint32_t y, const std::uint8_t* row,
                    std::uint8_t* upright) {
    const RowPlacement place = placeRow(layout.orientation, layout.width, layout.height, y);
    std::int64_t at = place.first;
    for (std::uint32_t x = 0; x < layout.width; ++x, at += place.step) {
        std::memcpy(upright + 4 * static_cast<std::size_t>(at), row + std::size_t{4} * x, 4);
    }
}

// The rows, decoded straight into upright when stored upright, else one at
// a time through row and placed.
int decodeRows(JpegReading& reading, const Layout& layout, std::uint8_t* upright,
               std::uint8_t* row) {
    return withJpegJump(reading, [&reading, &layout, upright, row] {
        jpeg_decompress_struct& cinfo = reading.cinfo;
        const std::size_t stride = std::size_t{4} * layout.width;
        while (cinfo.output_scanline < cinfo.output_height) {
            const std::uint32_t y = cinfo.output_scanline;
            if (layout.orientation == 1) {
                std::array<JSAMPROW, ROWS_AT_ONCE> rows{};
                for (std::size_t i = 0; i < rows.size(); ++i) {
                    const std::size_t target = std::min<std::size_t>(y + i, layout.height - 1);
                    rows[i] = upright + target * stride;
                }
                const JDIMENSION done = jpeg_read_scanlines(&cinfo, rows.data(), ROWS_AT_ONCE);
                if (done == 0) {
                    failWith(reading, DAZ_ERR_BAD_IMAGE);
                }
                for (JDIMENSION i = 0; layout.cmyk && i < done; ++i) {
                    cmykToRgba(rows[i], layout.width);
                }
            } else {
                JSAMPROW one = row;
                if (jpeg_read_scanlines(&cinfo, &one, 1) != 1) {
                    failWith(reading, DAZ_ERR_BAD_IMAGE);
                }
                if (layout.cmyk) {
                    cmykToRgba(row, layout.width);
                }
                placeStoredRow(layout, y, row, upright);
            }
        }
        // Up to the end marker: a file cut in its last bytes is cut too.
        static_cast<void>(jpeg_finish_decompress(&cinfo));
    });
}

} // namespace

int readJpegRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    const auto reading = std::make_unique<JpegReading>();
    jpeg_decompress_struct& cinfo = reading->cinfo;
    int result = startReading(*reading, source);
    if (result != DAZ_OK) {
        return result;
    }
    Layout layout;
    layout.width = cinfo.image_width;
    layout.height = cinfo.image_height;
    layout.orientation = orientationOf(cinfo);
    layout.cmyk = isCmyk(cinfo.jpeg_color_space);
    const bool rgb = cinfo.jpeg_color_space == JCS_GRAYSCALE ||
                     cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB;
    if (!rgb && !layout.cmyk) {
        return DAZ_ERR_BAD_IMAGE;
    }
    const bool turn = turned(layout.orientation);
    const std::uint32_t width = turn ? layout.height : layout.width;
    const std::uint32_t height = turn ? layout.width : layout.height;
    const std::uint64_t held = heldByLibjpeg(&cinfo);
    result = checkRgbaSize(check, width, height, held);
    if (result != DAZ_OK) {
        return result;
    }
    if (sizeOnly) {
        image.width = width;
        image.height = height;
        return DAZ_OK;
    }
    // libjpeg's own memory: what it holds whole, and its rows.
    constexpr std::uint64_t WORKING = std::uint64_t{16} << 20;
    const std::uint64_t rowBytes =
        std::uint64_t{256} * layout.width * static_cast<std::uint64_t>(cinfo.num_components);
    constexpr auto MOST = static_cast<std::uint64_t>(std::numeric_limits<long>::max());
    cinfo.mem->max_memory_to_use = static_cast<long>(std::min(held + WORKING + rowBytes, MOST));
    cinfo.out_color_space = layout.cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    result = withJpegJump(*reading, [&cinfo] { static_cast<void>(jpeg_start_decompress(&cinfo)); });
    if (result != DAZ_OK) {
        return result;
    }
    if (cinfo.output_width != layout.width || cinfo.output_height != layout.height ||
        cinfo.output_components != 4) {
        return DAZ_ERR_BAD_IMAGE;
    }
    std::vector<std::uint8_t> pixels(std::size_t{4} * width * height);
    std::vector<std::uint8_t> row(layout.orientation == 1 ? 0 : std::size_t{4} * layout.width);
    result = decodeRows(*reading, layout, pixels.data(), row.data());
    if (result != DAZ_OK) {
        return result;
    }
    image.width = width;
    image.height = height;
    image.pixels = std::move(pixels);
    return DAZ_OK;
}

} // namespace orvx
