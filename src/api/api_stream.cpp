// The daz side of the C API as streams: a row at a time through the
// caller's read and write callbacks. An object holds its keystream table and
// a row or two, whatever the image's size.
#include "api/api_rows.h"

#include <array>
#include <cstring>
#include <new>
#include <vector>

struct daz_decoder {
    orvx::PixelCoding coding; // first: it lines up on 64 bytes
    daz_read_fn read = nullptr;
    void* user = nullptr;
    std::vector<std::uint8_t> stored; // one stored row
    std::uint32_t width = 0;
    int bits = 8;
    std::uint32_t rows = 0; // |height|
    std::uint32_t next = 0; // rows read so far
    bool topDown = false;
    bool failed = false;
};

struct daz_encoder {
    orvx::PixelCoding coding; // first: it lines up on 64 bytes
    daz_write_fn write = nullptr;
    void* user = nullptr;
    const orvx::KernelVariant* kernel = nullptr;
    std::vector<std::uint8_t> stored; // one stored row
    std::uint64_t undefined = 0;
    std::uint32_t width = 0;
    int bits = 8;
    std::uint32_t rows = 0; // |height|
    std::uint32_t next = 0; // rows written so far
    bool failed = false;
    bool finished = false;
};

namespace {

using namespace orvx;

// Fills buffer with size bytes through read, as far as the input goes;
// got is how many came. DAZ_ERR_CALLBACK when the callback fails or claims
// more than it was asked for.
int readFully(daz_read_fn read, void* user, std::uint8_t* buffer, std::size_t size,
              std::size_t& got) {
    got = 0;
    while (got < size) {
        std::size_t piece = 0;
        if (read(user, buffer + got, size - got, &piece) != 0 || piece > size - got) {
            return DAZ_ERR_CALLBACK;
        }
        if (piece == 0) {
            break;
        }
        got += piece;
    }
    return DAZ_OK;
}

// The header and palette through read, parsed as a whole image of |height|
// rows: the pixel area is not known yet.
int readHeader(daz_read_fn read, void* user, std::uint8_t* prefix, DazImage& image) {
    std::size_t got = 0;
    int status = readFully(read, user, prefix, orvx::DAZ_HEADER_SIZE, got);
    if (status != DAZ_OK) {
        return status;
    }
    int parsed = parseDazImage(prefix, got, got, image);
    if (parsed != DAZ_ERR_TRUNCATED || got < orvx::DAZ_HEADER_SIZE) {
        return parsed; // the header alone is never a whole image
    }
    // The header is sound, so its colour count is 1..256.
    DazHeader header;
    readDazHeader(prefix, header);
    std::size_t more = 0;
    status = readFully(read, user, prefix + orvx::DAZ_HEADER_SIZE,
                       PALETTE_ENTRY_SIZE * static_cast<std::size_t>(header.colorCount), more);
    if (status != DAZ_OK) {
        return status;
    }
    return parseDazImage(prefix, got + more, UINT64_MAX, image);
}

int failDecoder(daz_decoder* decoder, int error) {
    decoder->failed = true;
    return error;
}

int failEncoder(daz_encoder* encoder, int error) {
    encoder->failed = true;
    return error;
}

} // namespace

extern "C" {

int daz_decoder_create(daz_read_fn read, void* user, const daz_limits* limits,
                       daz_decoder** decoder, daz_info* info) {
    if (read == nullptr || decoder == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    std::array<std::uint8_t, DAZ_MAX_PREFIX_SIZE> prefix{};
    DazImage image;
    const int status = readHeader(read, user, prefix.data(), image);
    if (status != DAZ_OK) {
        return status;
    }
    const std::uint64_t width = image.header.width;
    // What the object holds: a stored row.
    const int limited = checkLimits(limits, width, image.rows, image.rowSize);
    if (limited != DAZ_OK) {
        return limited;
    }
    try {
        auto* made = new daz_decoder;
        made->read = read;
        made->user = user;
        initPixelCoding(made->coding, image.header.key, image.header.bitsPerPixel,
                        image.header.colorCount);
        made->width = image.header.width;
        made->bits = image.header.bitsPerPixel;
        made->topDown = dazTopDown(image.header);
        made->rows = static_cast<std::uint32_t>(image.rows);
        try {
            made->stored.resize(static_cast<std::size_t>(image.rowSize));
        } catch (const std::bad_alloc&) {
            delete made;
            return DAZ_ERR_MEMORY;
        }
        if (info != nullptr) {
            fillInfo(image, *info);
            info->trailing = 0; // not known before the end
        }
        *decoder = made;
    } catch (const std::bad_alloc&) {
        return DAZ_ERR_MEMORY;
    }
    return DAZ_OK;
}

int daz_decoder_read_row(daz_decoder* decoder, uint8_t* indices, size_t size, uint32_t* row_index) {
    if (decoder == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    if (decoder->failed || decoder->next == decoder->rows) {
        return failDecoder(decoder, DAZ_ERR_STATE);
    }
    // The caller's slips: refused, and the decoder as it was.
    if (indices == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    if (size < decoder->width) {
        return DAZ_ERR_BUFFER;
    }
    std::size_t got = 0;
    const int status = readFully(decoder->read, decoder->user, decoder->stored.data(),
                                 decoder->stored.size(), got);
    if (status != DAZ_OK) {
        return failDecoder(decoder, status);
    }
    if (got < decoder->stored.size()) {
        return failDecoder(decoder, DAZ_ERR_READ);
    }
    const std::uint64_t stored = decoder->next;
    decodeRow(decoder->coding, decoder->stored.data(), decoder->width,
              static_cast<std::size_t>(stored * decoder->stored.size() % KEYSTREAM_PERIOD),
              indices);
    if (row_index != nullptr) {
        *row_index = decoder->topDown ? decoder->next : decoder->rows - 1 - decoder->next;
    }
    ++decoder->next;
    return DAZ_OK;
}

void daz_decoder_destroy(daz_decoder* decoder) {
    delete decoder;
}

int daz_encoder_create(daz_write_fn write, void* user, uint32_t width, int32_t height, int bits,
                       const uint8_t* palette, int entries, int kept_colors, uint16_t key,
                       daz_encoder** encoder) {
    if (write == nullptr || encoder == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    std::array<std::uint8_t, DAZ_MAX_PREFIX_SIZE> prefix{};
    std::size_t prefixSize = 0;
    int kept = 0;
    const int checked = prepareEncode(width, height, bits, palette, entries, kept_colors, key,
                                      prefix.data(), prefixSize, kept);
    if (checked != DAZ_OK) {
        return checked;
    }
    daz_encoder* made = nullptr;
    try {
        made = new daz_encoder;
        made->stored.resize(
            static_cast<std::size_t>(dazRowSize(width, static_cast<unsigned>(bits))));
    } catch (const std::bad_alloc&) {
        delete made;
        return DAZ_ERR_MEMORY;
    }
    made->write = write;
    made->user = user;
    initPixelCoding(made->coding, key, bits, kept);
    made->kernel = &activeKernel();
    made->width = width;
    made->bits = bits;
    made->rows = static_cast<std::uint32_t>(height < 0 ? -std::int64_t{height} : height);
    if (write(user, prefix.data(), prefixSize) != 0) {
        delete made;
        return DAZ_ERR_CALLBACK;
    }
    *encoder = made;
    return DAZ_OK;
}

int daz_encoder_write_row(daz_encoder* encoder, const uint8_t* indices, size_t size) {
    if (encoder == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    if (encoder->failed || encoder->finished || encoder->next == encoder->rows) {
        return failEncoder(encoder, DAZ_ERR_STATE);
    }
    // The caller's slips: refused, and the encoder as it was.
    if (indices == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    if (size < encoder->width) {
        return DAZ_ERR_BUFFER;
    }
    if (encoder->bits == 4 && !fitNibbles(indices, encoder->width)) {
        return DAZ_ERR_ARGUMENT;
    }
    const std::size_t rowSize = encoder->stored.size();
    encoder->undefined += encodeRow(
        encoder->coding, *encoder->kernel, indices, encoder->width, encoder->stored.data(), rowSize,
        static_cast<std::size_t>(std::uint64_t{encoder->next} * rowSize % KEYSTREAM_PERIOD));
    if (encoder->write(encoder->user, encoder->stored.data(), rowSize) != 0) {
        return failEncoder(encoder, DAZ_ERR_CALLBACK);
    }
    ++encoder->next;
    return DAZ_OK;
}

int daz_encoder_finish(daz_encoder* encoder, uint64_t* undefined) {
    if (encoder == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    if (encoder->failed || encoder->finished || encoder->next != encoder->rows) {
        return failEncoder(encoder, DAZ_ERR_STATE);
    }
    encoder->finished = true;
    if (undefined != nullptr) {
        *undefined = encoder->undefined;
    }
    return DAZ_OK;
}

void daz_encoder_destroy(daz_encoder* encoder) {
    delete encoder;
}

} // extern "C"
