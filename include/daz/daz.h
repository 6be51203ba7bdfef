/* daz.h - read and write daz images, in memory, as streams or as files.
 *
 * A daz image is an uncompressed palette image: a 24-byte header, the
 * palette, and the pixel rows of a 4- or 8-bit bitmap, each byte raised by
 * one byte of a keystream seeded from a 16-bit key. All integers are
 * little-endian.
 *
 *   offset  size            field      content
 *   ------  --------------  ---------  ---------------------------------------
 *        0  2               magic      "EW"
 *        2  2               format     1; written always, read by nobody
 *        4  2               width      pixels, 0..65535 (0: no whole row)
 *        6  2               height     rows, signed: negative for top-down
 *                                      rows, positive for bottom-up ones
 *        8  2               bits       4 or 8 bits per pixel
 *       10  2               colors     palette entries that follow, signed:
 *                                      1..16 for 4 bits, 1..256 for 8 bits
 *       12  2               key        seeds the keystream
 *       14  10              reserved   zero
 *       24  4 * colors      palette    red, green, blue, a fourth byte
 *        .  to the end      pixels     rows of (width * bits + 31) / 32 * 4
 *                                      bytes; 4-bit pixels two to a byte, the
 *                                      first in the high nibble; byte i stored
 *                                      as (byte + keystream byte i) mod 256
 *
 * Keystream: a = low byte of key, b = high byte; for each pixel byte, (a, b)
 * becomes (b, (a + b) mod 256) and the new b is the byte's offset.
 *
 * The image has |height| rows when the pixel area holds that many whole
 * rows; bytes after them are not part of it. A pixel area cut short gives
 * the whole rows present. A pixel may index past the palette: that is part
 * of the format, kept by every call here, and counted as "undefined" when
 * an image is encoded with fewer palette entries than its indices use.
 *
 * Conventions:
 * - Every function returns DAZ_OK (0) or a negative daz_error; daz_strerror
 *   names it. Outputs are written only on success, unless a function says
 *   otherwise.
 * - In-memory calls use buffers the caller owns. Every size is exact and can
 *   be asked for first, so the library never hands back memory to free.
 * - Limits (daz_limits) are checked before any allocation or any write into
 *   a caller's buffer: a 24-byte file can claim 65535 x 32768 pixels.
 * - Threads: the library keeps no mutable global state but the one-time pick
 *   of its pixel kernel for the processor, made atomically, and, while a file
 *   function runs, the list of temporary files its signal handlers remove
 *   (under a lock). Any function may be called from any thread; a decoder or
 *   encoder object belongs to one thread at a time.
 * - Signals: while a file function writes, every signal that ends the process
 *   and may be caught removes its temporary file and ends the process by the
 *   same signal; the program's own handlers come back when it returns, and a
 *   signal the program ignores stays ignored.
 * - No C++ exception ever leaves a call.
 *
 * Link with -ldaz (pkg-config daz, or CMake's find_package(daz) and the
 * target daz::daz). For the static library on Windows, define DAZ_STATIC.
 */
#ifndef DAZ_DAZ_H
#define DAZ_DAZ_H

#include <stddef.h>
#include <stdint.h>

#define DAZ_VERSION_MAJOR 0
#define DAZ_VERSION_MINOR 7
#define DAZ_VERSION_PATCH 0

#if defined(DAZ_STATIC)
#define DAZ_API
#elif defined(_WIN32)
#if defined(DAZ_BUILDING)
#define DAZ_API __declspec(dllexport)
#else
#define DAZ_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define DAZ_API __attribute__((visibility("default")))
#else
#define DAZ_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The format's own bounds. */
enum {
    DAZ_HEADER_SIZE = 24,
    DAZ_MAX_WIDTH = 65535,
    DAZ_MAX_ROWS = 32768, /* |height| at most: a height of -32768 */
    DAZ_MAX_PALETTE = 256,
    DAZ_PALETTE_BYTES = 1024 /* DAZ_MAX_PALETTE entries of 4 bytes */
};

/* The colour daz_decode_rgba gives a pixel whose index is past the palette:
 * opaque magenta, red 255, green 0, blue 255, alpha 255. */
#define DAZ_UNDEFINED_RGBA 0xFF00FFFFu /* as the bytes ff 00 ff ff */

typedef enum daz_error {
    DAZ_OK = 0,
    DAZ_ERR_ARGUMENT = -1,         /* a null pointer, or a value out of its range */
    DAZ_ERR_BUFFER = -2,           /* the caller's buffer is smaller than needed */
    DAZ_ERR_LIMITS = -3,           /* the image is past the caller's daz_limits */
    DAZ_ERR_MEMORY = -4,           /* an allocation failed */
    DAZ_ERR_NOT_DAZ = -5,          /* no "EW" magic */
    DAZ_ERR_DAZ_BITS = -6,         /* bits per pixel neither 4 nor 8 */
    DAZ_ERR_DAZ_COLORS = -7,       /* colour count outside 1..16 or 1..256 */
    DAZ_ERR_TRUNCATED = -8,        /* shorter than its header and palette */
    DAZ_ERR_NO_ROWS = -9,          /* not one whole row of pixels */
    DAZ_ERR_NOT_BMP = -10,         /* not a bitmap, or one laid out past reading */
    DAZ_ERR_BMP_BITS = -11,        /* a bitmap of neither 4 nor 8 bits per pixel */
    DAZ_ERR_NOT_PNG = -12,         /* not a PNG, or a corrupt one */
    DAZ_ERR_PNG_NOT_PALETTE = -13, /* a PNG without a palette: grey or true colour */
    DAZ_ERR_COLORS = -14,          /* the colour count asked for is out of range */
    DAZ_ERR_TOO_BIG_TO_HOLD = -15, /* must be held whole, and is past what may be */
    DAZ_ERR_OPEN = -16,            /* the input file can't be opened */
    DAZ_ERR_READ = -17,            /* the input can't be read, or ends early */
    DAZ_ERR_CREATE = -18,          /* the output can't be created, or is refused */
    DAZ_ERR_WRITE = -19,           /* the output can't be written */
    DAZ_ERR_CALLBACK = -20,        /* a read or write callback failed */
    DAZ_ERR_STATE = -21            /* a stream call out of order, or after a failure */
} daz_error;

/* "0.7.0": the library's version, which may differ from the header's. */
DAZ_API const char* daz_version_string(void);

/* English text for a daz_error, for programmers; never null. */
DAZ_API const char* daz_strerror(int error);

/* What a call may take on: checked before any allocation. */
typedef struct daz_limits {
    uint32_t max_width;  /* default DAZ_MAX_WIDTH */
    uint32_t max_height; /* rows, |height|; default DAZ_MAX_ROWS */
    uint64_t max_pixels; /* width x rows; default 1 << 28 */
    uint64_t max_bytes;  /* bytes a call may hold or fill; default 1 << 30 */
} daz_limits;

/* Fills limits with the defaults above. A null daz_limits* anywhere below
 * means these. */
DAZ_API void daz_default_limits(daz_limits* limits);

/* A daz image's header, as daz_inspect reads it. */
typedef struct daz_info {
    uint32_t width;
    int32_t height; /* as stored: negative for top-down rows */
    uint32_t rows;  /* the image's rows: |height|, or fewer when cut short */
    int bits;       /* 4 or 8 */
    int colors;     /* palette entries stored: 1..16 or 1..256 */
    uint16_t key;
    uint32_t row_size;                  /* bytes of a stored row: (width * bits + 31) / 32 * 4 */
    uint64_t pixel_offset;              /* where the pixel area starts: 24 + 4 * colors */
    uint64_t trailing;                  /* bytes after the image's last row */
    uint8_t palette[DAZ_PALETTE_BYTES]; /* colors entries: red, green, blue, fourth */
} daz_info;

/* Reads and checks the header and palette of the daz image in data[0..size):
 * a pure parse, with no allocation and no I/O. DAZ_ERR_NOT_DAZ,
 * DAZ_ERR_TRUNCATED, DAZ_ERR_DAZ_BITS, DAZ_ERR_DAZ_COLORS, DAZ_ERR_NO_ROWS. */
DAZ_API int daz_inspect(const void* data, size_t size, daz_info* info);

/* Bytes daz_decode needs for the image's indices (width x rows) and
 * daz_decode_rgba for its pixels (4 x width x rows). */
DAZ_API int daz_decoded_size(const daz_info* info, size_t* indices_size, size_t* rgba_size);

/* Decodes the daz image in data: info as daz_inspect gives it, palette (if
 * not null) as DAZ_PALETTE_BYTES of red, green, blue, fourth byte, and the
 * indices, one byte per pixel, width bytes a row, top row first whatever the
 * stored order, 4-bit pixels unpacked, the keystream taken off.
 * DAZ_ERR_LIMITS past limits, DAZ_ERR_BUFFER when indices_size is short. */
DAZ_API int daz_decode(const void* data, size_t size, const daz_limits* limits, daz_info* info,
                       uint8_t* palette, uint8_t* indices, size_t indices_size);

/* As daz_decode, with the palette applied: red, green, blue and alpha 255
 * for each pixel, DAZ_UNDEFINED_RGBA for an index past the palette. */
DAZ_API int daz_decode_rgba(const void* data, size_t size, const daz_limits* limits, daz_info* info,
                            uint8_t* rgba, size_t rgba_size);

/* The size of the daz file daz_encode writes for such an image: 24 bytes,
 * 4 x kept colours, and rows of (width * bits + 31) / 32 * 4 bytes.
 * kept_colors 0 means all entries. */
DAZ_API int daz_encoded_size(uint32_t width, uint32_t height, int bits, int entries,
                             int kept_colors, size_t* size);

/* Encodes an image of indices (one byte per pixel, top row first, rows
 * stride bytes apart) as the canonical daz file: rows stored bottom-up
 * (a positive height), padded with zeros to 4 bytes, 4-bit pixels packed two
 * to a byte. palette holds entries (1..16 for 4 bits, 1..256 for 8) of red,
 * green, blue and a fourth byte; kept_colors of them are written (0: all).
 * An index past what the bits hold is DAZ_ERR_ARGUMENT; one past the kept
 * palette is kept as it is and counted in *undefined (may be null), as
 * orvx -c counts it. *written gets the file's size. */
DAZ_API int daz_encode(const uint8_t* indices, size_t stride, uint32_t width, uint32_t height,
                       int bits, const uint8_t* palette, int entries, int kept_colors, uint16_t key,
                       void* out, size_t capacity, size_t* written, uint64_t* undefined);

/* A bitmap (BMP, 4 or 8 bits per pixel) or an indexed PNG in memory to the
 * daz file orvx -c and pngdaz write for it, byte for byte. colors is the
 * count to keep (0: all), key the key. With out null, *written gets the size
 * needed and nothing else is done. *undefined (may be null) gets the count
 * of pixel values past the kept palette. */
DAZ_API int daz_from_bmp(const void* data, size_t size, int colors, uint16_t key, void* out,
                         size_t capacity, size_t* written, uint64_t* undefined);
DAZ_API int daz_from_png(const void* data, size_t size, int colors, uint16_t key, void* out,
                         size_t capacity, size_t* written, uint64_t* undefined);

/* A daz image in memory to the bitmap dazbmp writes for it, or the indexed
 * PNG dazpng writes, byte for byte. With out null, *written gets the size
 * needed and nothing else is done; DAZ_ERR_BUFFER when capacity is short. */
DAZ_API int daz_to_bmp(const void* data, size_t size, void* out, size_t capacity, size_t* written);
DAZ_API int daz_to_png(const void* data, size_t size, void* out, size_t capacity, size_t* written);

/* Streaming, for images larger than memory. Memory stays at a few chunks
 * whatever the image. A read callback puts up to size bytes at buffer and
 * their count in *got (fewer only at the end of the input) and returns 0, or
 * non-zero on failure; a write callback takes all size bytes and returns 0,
 * or non-zero on failure. After a failure, every later call on the object
 * gives DAZ_ERR_STATE. */
typedef int (*daz_read_fn)(void* user, void* buffer, size_t size, size_t* got);
typedef int (*daz_write_fn)(void* user, const void* data, size_t size);

typedef struct daz_decoder daz_decoder;

/* Reads the header and palette through read and checks them against limits.
 * info may be null. The rows then come in stored order: bottom row first
 * when info->height is positive, top row first when negative. */
DAZ_API int daz_decoder_create(daz_read_fn read, void* user, const daz_limits* limits,
                               daz_decoder** decoder, daz_info* info);
/* The next row's indices, width bytes, keystream taken off, 4-bit pixels
 * unpacked; *row_index (may be null) gets its place from the top, 0 being the
 * top row. DAZ_ERR_READ when the input ends before the row is whole. */
DAZ_API int daz_decoder_read_row(daz_decoder* decoder, uint8_t* indices, size_t size,
                                 uint32_t* row_index);
DAZ_API void daz_decoder_destroy(daz_decoder* decoder);

typedef struct daz_encoder daz_encoder;

/* Writes the header and palette through write. height is stored as given:
 * positive means the rows come bottom row first, negative top row first. */
DAZ_API int daz_encoder_create(daz_write_fn write, void* user, uint32_t width, int32_t height,
                               int bits, const uint8_t* palette, int entries, int kept_colors,
                               uint16_t key, daz_encoder** encoder);
/* Takes the next row in stored order, width indices. */
DAZ_API int daz_encoder_write_row(daz_encoder* encoder, const uint8_t* indices, size_t size);
/* After |height| rows: *undefined (may be null) gets the count. */
DAZ_API int daz_encoder_finish(daz_encoder* encoder, uint64_t* undefined);
DAZ_API void daz_encoder_destroy(daz_encoder* encoder);

/* Files, as the commands convert them, with the same safe output: the
 * destination only ever holds its old file or the whole new one, a failure
 * or an interruption leaves no temporary file, a device or FIFO is written
 * directly. Paths in UTF-8. *undefined (may be null) as above. */
DAZ_API int daz_convert_bmp_file(const char* source, const char* destination, int colors,
                                 uint16_t key, uint64_t* undefined);
DAZ_API int daz_convert_png_file(const char* source, const char* destination, int colors,
                                 uint16_t key, uint64_t* undefined);
DAZ_API int daz_write_bmp_file(const char* source, const char* destination);
DAZ_API int daz_write_png_file(const char* source, const char* destination);

#ifdef __cplusplus
}
#endif

#endif /* DAZ_DAZ_H */
