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
 * - Buffers: every call that fills a buffer (out, capacity) takes out = NULL
 *   as a size query: *written gets the exact size needed, and nothing else
 *   is done. A buffer smaller than needed gives DAZ_ERR_BUFFER and is left
 *   untouched.
 * - Limits: every call that sizes memory or work from bytes it is given
 *   takes a daz_limits (NULL: the defaults) and checks it before any
 *   allocation or any write into a caller's buffer, a size query included,
 *   which never answers more than the limits allow: a 24-byte file can claim
 *   65535 x 32768 pixels, a 78-byte run-length bitmap 2 GiB of them.
 * - Threads: the library keeps no mutable global state but the one-time pick
 *   of its pixel kernel for the processor, made atomically, and, while a file
 *   function runs, the list of temporary files its signal handlers remove
 *   (under a lock). Any function may be called from any thread; a decoder or
 *   encoder object belongs to one thread at a time.
 * - Signals: the library is a guest in the program. While a file function
 *   writes, a terminating signal whose action is still the default (it would
 *   end the process anyway) first removes the temporary file, then ends the
 *   process by the same signal. A signal the program handles or ignores is
 *   left to the program: its handler runs as ever, and the temporary file is
 *   removed when the call returns, interrupted or not. Nothing is changed once
 *   the call has returned.
 * - No C++ exception ever leaves a call.
 *
 * Link with -ldaz (pkg-config daz, or CMake's find_package(daz) and the
 * target daz::daz). For the static library on Windows, define DAZ_STATIC.
 */
#ifndef DAZ_DAZ_H
#define DAZ_DAZ_H

#include <stddef.h>
#include <stdint.h>

#define DAZ_VERSION_MAJOR 1
#define DAZ_VERSION_MINOR 1
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
    DAZ_PALETTE_BYTES = 1024, /* DAZ_MAX_PALETTE entries of 4 bytes */
    DAZ_GUESS_BYTES = 16      /* daz_guess_format needs no more than these */
};

/* The colour daz_decode_rgba gives a pixel whose index is past the palette,
 * byte by byte: opaque magenta. */
enum {
    DAZ_UNDEFINED_RED = 255,
    DAZ_UNDEFINED_GREEN = 0,
    DAZ_UNDEFINED_BLUE = 255,
    DAZ_UNDEFINED_ALPHA = 255
};

/* Every result, in one table: name, number, and the text daz_strerror gives.
 * The numbers are part of the ABI and never change; new ones come at the
 * end. Bindings build their own names from this table. */
#define DAZ_ERROR_TABLE(X)                                                                         \
    X(DAZ_OK, 0, "success")                                                                        \
    X(DAZ_ERR_ARGUMENT, -1, "invalid argument")                                                    \
    X(DAZ_ERR_BUFFER, -2, "buffer too small")                                                      \
    X(DAZ_ERR_LIMITS, -3, "image past the limits")                                                 \
    X(DAZ_ERR_MEMORY, -4, "out of memory")                                                         \
    X(DAZ_ERR_NOT_DAZ, -5, "not a daz image")                                                      \
    X(DAZ_ERR_DAZ_BITS, -6, "daz image of neither 4 nor 8 bits per pixel")                         \
    X(DAZ_ERR_DAZ_COLORS, -7, "daz image with an invalid colour count")                            \
    X(DAZ_ERR_TRUNCATED, -8, "daz image shorter than its header and palette")                      \
    X(DAZ_ERR_NO_ROWS, -9, "daz image without one whole row of pixels")                            \
    X(DAZ_ERR_NOT_BMP, -10, "not a bitmap this library reads")                                     \
    X(DAZ_ERR_BMP_BITS, -11, "bitmap of neither 4 nor 8 bits per pixel")                           \
    X(DAZ_ERR_NOT_PNG, -12, "not a valid PNG")                                                     \
    X(DAZ_ERR_PNG_NOT_PALETTE, -13, "PNG without a palette")                                       \
    X(DAZ_ERR_COLORS, -14, "colour count out of range for this image")                             \
    X(DAZ_ERR_TOO_BIG_TO_HOLD, -15, "image too big to hold in memory")                             \
    X(DAZ_ERR_OPEN, -16, "input file cannot be opened")                                            \
    X(DAZ_ERR_READ, -17, "read error or input cut short")                                          \
    X(DAZ_ERR_CREATE, -18, "output file cannot be created")                                        \
    X(DAZ_ERR_WRITE, -19, "write error")                                                           \
    X(DAZ_ERR_CALLBACK, -20, "a callback failed")                                                  \
    X(DAZ_ERR_STATE, -21, "call out of order, or after a failure")                                 \
    X(DAZ_ERR_FORMAT, -22, "not an image format this library converts")                            \
    X(DAZ_ERR_NOT_PGM, -23, "not a PGM this library reads")                                        \
    X(DAZ_ERR_NO_PALETTE, -24, "image with more than 256 colours and no palette")                  \
    X(DAZ_ERR_BAD_IMAGE, -25, "image damaged, or of a kind this library can't read")               \
    X(DAZ_ERR_NOT_INDEXED, -26, "image without a palette whose indices can be kept")

#define DAZ_ERROR_ENUM_ENTRY_(name, number, text) name = (number),
typedef enum daz_error { DAZ_ERROR_TABLE(DAZ_ERROR_ENUM_ENTRY_) } daz_error;
#undef DAZ_ERROR_ENUM_ENTRY_

/* "1.1.0": the library's version, which may differ from the header's. */
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

/* The formats, told by content (never by name). A daz image is read by the
 * calls below; every other known format is an input daz_convert turns into
 * daz, and BMP and PNG are outputs daz_export writes. Numbers never change;
 * new formats come at the end. */
typedef enum daz_format {
    DAZ_FORMAT_UNKNOWN = 0,
    DAZ_FORMAT_DAZ = 1,
    DAZ_FORMAT_BMP = 2,   /* "BM" */
    DAZ_FORMAT_PNG = 3,   /* the PNG signature */
    DAZ_FORMAT_PGM = 4,   /* "P5" and whitespace: netpbm's binary greys */
    DAZ_FORMAT_GIF = 5,   /* "GIF87a", "GIF89a" */
    DAZ_FORMAT_TIFF = 6,  /* "II*\0", "MM\0*", and BigTIFF's */
    DAZ_FORMAT_JPEG = 7,  /* FF D8 FF */
    DAZ_FORMAT_WEBP = 8,  /* "RIFF", a size, "WEBP" */
    DAZ_FORMAT_HEIF = 9,  /* an ISO box "ftyp" of a HEIF brand (heic, mif1, ...) */
    DAZ_FORMAT_AVIF = 10, /* an ISO box "ftyp" of brand avif or avis */
    DAZ_FORMAT_PPM = 11,  /* "P6" and whitespace: netpbm's binary colours */
    DAZ_FORMAT_PAM = 12   /* "P7" and a line end: netpbm's arbitrary maps */
} daz_format;

/* The format of the image that starts data[0..size), from its first bytes
 * (DAZ_GUESS_BYTES are always enough; fewer may be). A guess: the file may
 * still be damaged. DAZ_FORMAT_UNKNOWN when nothing matches. */
DAZ_API daz_format daz_guess_format(const void* data, size_t size);

/* "daz", "BMP", "PNG", ...: a format's short name, for messages; "unknown"
 * for DAZ_FORMAT_UNKNOWN and any number this library doesn't know. */
DAZ_API const char* daz_format_name(int format);

/* What this build does with a format (daz_format_info.flags). */
enum {
    DAZ_FORMAT_CONVERTS = 1, /* daz_convert keeps its palette and indices */
    DAZ_FORMAT_LOADS = 2,    /* daz_load_rgba, daz_reduce and daz_load_palette read it */
    DAZ_FORMAT_EXPORTS = 4   /* daz_export writes it from a daz image */
};

/* A format as this build knows it: what bindings, plugins and pages show
 * and offer, asked of the library rather than listed by them. The strings
 * are the library's own and live as long as it is loaded. */
typedef struct daz_format_info {
    int format;             /* a daz_format */
    const char* name;       /* daz_format_name's: "GIF" */
    const char* extensions; /* lower case, blank-separated, the usual one first: "jpg jpeg" */
    const char* mime_type;  /* "image/gif" */
    unsigned flags;         /* DAZ_FORMAT_CONVERTS, _LOADS, _EXPORTS */
    unsigned reserved[3];   /* zero */
} daz_format_info;

/* The index-th format this build knows (0, 1, ... in the order
 * daz_guess_format tries them; daz itself is one): DAZ_OK, or
 * DAZ_ERR_ARGUMENT past the last one. A format whose library was left out of
 * the build (HEIF, say) is not among them. */
DAZ_API int daz_format_at(int index, daz_format_info* info);

/* A daz image's header, as daz_inspect reads it. */
typedef struct daz_info {
    uint32_t width;
    int32_t height; /* as stored: negative for top-down rows */
    uint32_t rows;  /* the image's rows: |height|, or fewer when cut short */
    int bits;       /* 4 or 8 */
    int colors;     /* palette entries stored: 1..16 or 1..256 */
    uint16_t key;
    uint32_t row_size;     /* bytes of a stored row: (width * bits + 31) / 32 * 4 */
    uint64_t pixel_offset; /* where the pixel area starts: 24 + 4 * colors */
    uint64_t trailing;     /* bytes after the image's last row */
    /* colors entries of red, green, blue and the stored fourth byte; the
     * bytes past them are zero. */
    uint8_t palette[DAZ_PALETTE_BYTES];
} daz_info;

/* Reads and checks the header and palette of the daz image in data[0..size):
 * a pure parse, with no allocation and no I/O. DAZ_ERR_NOT_DAZ,
 * DAZ_ERR_TRUNCATED, DAZ_ERR_DAZ_BITS, DAZ_ERR_DAZ_COLORS, DAZ_ERR_NO_ROWS. */
DAZ_API int daz_inspect(const void* data, size_t size, daz_info* info);

/* Bytes daz_decode needs for the image's indices (width x rows) and
 * daz_decode_rgba for its pixels (4 x width x rows); either pointer may be
 * null. limits as everywhere: DAZ_ERR_LIMITS for an image past them. */
DAZ_API int daz_decoded_size(const daz_info* info, const daz_limits* limits, size_t* indices_size,
                             size_t* rgba_size);

/* Decodes the daz image in data into the indices, one byte per pixel, width
 * bytes a row, top row first whatever the stored order, 4-bit pixels
 * unpacked, the keystream taken off. info is an output only, as daz_inspect
 * fills it (the call parses the header itself), and may be null; so may
 * palette, which then gets DAZ_PALETTE_BYTES as info->palette. indices may
 * not be null: with indices_size short of width x rows, DAZ_ERR_BUFFER. */
DAZ_API int daz_decode(const void* data, size_t size, const daz_limits* limits, daz_info* info,
                       uint8_t* palette, uint8_t* indices, size_t indices_size);

/* As daz_decode, with the palette applied: red, green, blue and alpha 255
 * for each pixel, the DAZ_UNDEFINED_* bytes for an index past the palette. */
DAZ_API int daz_decode_rgba(const void* data, size_t size, const daz_limits* limits, daz_info* info,
                            uint8_t* rgba, size_t rgba_size);

/* The size of the daz file daz_encode writes for such an image: 24 bytes,
 * 4 x kept colours, and |height| rows of (width * bits + 31) / 32 * 4 bytes.
 * kept_colors 0 means all entries. */
DAZ_API int daz_encoded_size(uint32_t width, int32_t height, int bits, int entries, int kept_colors,
                             size_t* size);

/* Encodes an image of indices (one byte per pixel, top row first, rows
 * stride bytes apart, stride >= width) as a daz file. height is stored as
 * given: positive writes the rows bottom-up (the canonical file, as orvx -c
 * writes), negative top-down, so that -32768 makes the tallest image the
 * format holds. Rows are padded with zeros to 4 bytes, 4-bit pixels packed
 * two to a byte. palette holds entries (1..16 for 4 bits, 1..256 for 8) of
 * red, green, blue and a fourth byte; kept_colors of them are written (0:
 * all). An index past what the bits hold is DAZ_ERR_ARGUMENT, and so is a
 * stride x |height| that the address space can't hold; one past the kept
 * palette is kept as it is and counted in *undefined (may be null), as
 * orvx -c counts it. With out null, a size query: *written gets the file's
 * size, as daz_encoded_size gives it. */
DAZ_API int daz_encode(const uint8_t* indices, size_t stride, uint32_t width, int32_t height,
                       int bits, const uint8_t* palette, int entries, int kept_colors, uint16_t key,
                       void* out, size_t capacity, size_t* written, uint64_t* undefined);

/* An image in memory with a palette, of any format daz_guess_format knows
 * but daz (a bitmap of 4 or 8 bits per pixel, an indexed PNG, a GIF's first
 * frame, a palette TIFF's first page, a binary PGM of maxval 1..255), to the
 * daz file that orvx -c writes for the canonical bitmap of the same image,
 * byte for byte; for a PGM, the 8-bit image of maxval + 1 greys (entry i
 * round(i * 255 / maxval), fourth byte 0) whose indices are the samples,
 * rows bottom-up, as daz_encode writes it for a positive height. colors is
 * the count to keep (0: all), key the key. *undefined (may be null) gets the
 * count of pixel values past the kept palette, but for a size query.
 * DAZ_ERR_FORMAT for an input of no known format or a daz image,
 * DAZ_ERR_NOT_INDEXED for one without a palette (a JPEG, an RGB TIFF: see
 * daz_reduce), else the input's own errors (DAZ_ERR_NOT_BMP,
 * DAZ_ERR_NOT_PNG, DAZ_ERR_NOT_PGM, DAZ_ERR_BAD_IMAGE for the formats since;
 * DAZ_ERR_READ for one cut short). DAZ_ERR_TOO_BIG_TO_HOLD: an interlaced PNG whose indices
 * are past what may be held whole (256 MiB). */
DAZ_API int daz_convert(const void* data, size_t size, const daz_limits* limits, int colors,
                        uint16_t key, void* out, size_t capacity, size_t* written,
                        uint64_t* undefined);

/* A daz image in memory to the bitmap dazbmp writes for it (format
 * DAZ_FORMAT_BMP), the indexed PNG dazpng writes (DAZ_FORMAT_PNG) or the GIF
 * dazgif writes (DAZ_FORMAT_GIF), byte for byte: a format whose
 * daz_format_info has DAZ_FORMAT_EXPORTS. DAZ_ERR_ARGUMENT for any other. */
DAZ_API int daz_export(const void* data, size_t size, const daz_limits* limits, int format,
                       void* out, size_t capacity, size_t* written);

/* Streaming, for images larger than memory. Memory stays at a few chunks
 * whatever the image. A read callback puts up to size bytes at buffer and
 * their count in *got and returns 0, or non-zero on failure. It may give
 * fewer bytes than asked (a pipe, a socket): it is called again for the
 * rest, and only a count of 0 means the end of the input. A write callback
 * takes all size bytes and returns 0, or non-zero on failure. After a
 * failure of the input, the output or a callback, every later call on the
 * object gives DAZ_ERR_STATE; a caller's slip (a null pointer, a buffer
 * too small) is refused and changes nothing. */
typedef int (*daz_read_fn)(void* user, void* buffer, size_t size, size_t* got);
typedef int (*daz_write_fn)(void* user, const void* data, size_t size);

typedef struct daz_decoder daz_decoder;

/* Reads the header and palette through read and checks them against limits.
 * info (may be null) is an output, as daz_inspect fills it, but for rows and
 * trailing, which a stream can't know ahead: rows is |height| and trailing
 * 0. The rows then come in stored order: bottom row first when
 * info->height is positive, top row first when negative. */
DAZ_API int daz_decoder_create(daz_read_fn read, void* user, const daz_limits* limits,
                               daz_decoder** decoder, daz_info* info);
/* The next row's indices, width bytes, keystream taken off, 4-bit pixels
 * unpacked; *row_index (may be null) gets its place from the top, 0 being the
 * top row. DAZ_ERR_BUFFER when size is short of the width (the decoder stays
 * as it was); DAZ_ERR_READ when the input ends before the row is whole;
 * DAZ_ERR_STATE after the last row. */
DAZ_API int daz_decoder_read_row(daz_decoder* decoder, uint8_t* indices, size_t size,
                                 uint32_t* row_index);
DAZ_API void daz_decoder_destroy(daz_decoder* decoder);

typedef struct daz_encoder daz_encoder;

/* Writes the header and palette through write. height is stored as given:
 * positive means the rows come bottom row first, negative top row first. */
DAZ_API int daz_encoder_create(daz_write_fn write, void* user, uint32_t width, int32_t height,
                               int bits, const uint8_t* palette, int entries, int kept_colors,
                               uint16_t key, daz_encoder** encoder);
/* Takes the next row in stored order, width indices; DAZ_ERR_BUFFER when
 * size is short of the width (the encoder stays as it was). */
DAZ_API int daz_encoder_write_row(daz_encoder* encoder, const uint8_t* indices, size_t size);
/* After |height| rows: *undefined (may be null) gets the count. */
DAZ_API int daz_encoder_finish(daz_encoder* encoder, uint64_t* undefined);
DAZ_API void daz_encoder_destroy(daz_encoder* encoder);

/* Files, with the commands' safe output: the destination only ever holds
 * its old file or the whole new one (a temporary file in its folder,
 * synced, then renamed over it); a failure or an interruption leaves no
 * temporary file; a symbolic link stays a link and its target is replaced;
 * a device or FIFO is written directly; a replaced file keeps its mode, and
 * as root its owner. Paths in UTF-8. DAZ_ERR_CREATE when the destination is
 * the source itself. Each call reads its source in pieces, never whole but
 * for an interlaced PNG, output to a device or FIFO, and a source that is a
 * device or FIFO (read once, so held whole up to max_bytes): these may give
 * DAZ_ERR_TOO_BIG_TO_HOLD. */

/* daz_convert from a file: source of any format daz_guess_format knows but
 * daz. *undefined (may be null) as above. */
DAZ_API int daz_convert_file(const char* source, const char* destination, const daz_limits* limits,
                             int colors, uint16_t key, uint64_t* undefined);

/* daz_export from a file: format DAZ_FORMAT_BMP, DAZ_FORMAT_PNG or
 * DAZ_FORMAT_GIF. */
DAZ_API int daz_export_file(const char* source, const char* destination, const daz_limits* limits,
                            int format);

/* Writes data[0..size) to destination as above: for bytes a program made
 * itself (daz_encode's, say). DAZ_ERR_CREATE or DAZ_ERR_WRITE on failure. */
DAZ_API int daz_write_file(const char* destination, const void* data, size_t size);

/* For hosts (image viewers, editors, thumbnailers): what each would
 * otherwise work out again, one way for all. No allocation, no I/O. An info
 * is taken as daz_inspect or daz_decoder_create fills it; one whose bits
 * or colors no header holds is DAZ_ERR_ARGUMENT. */

enum { DAZ_KEY_TEXT_SIZE = 5 }; /* "1f2e" and its terminating zero */

/* The whole rows a daz file of file_size bytes holds, for a host that read
 * its header through a stream (daz_decoder_create gives rows = |height|):
 * info->rows, or fewer when the file is cut short, as daz_inspect counts
 * them (from info's width, bits and colors). DAZ_ERR_TRUNCATED when
 * file_size is short of the header and palette, DAZ_ERR_NO_ROWS when not
 * one whole row is there (a width of 0 included). */
DAZ_API int daz_rows_present(const daz_info* info, uint64_t file_size, uint32_t* rows);

/* The colour table a host shows: info's stored entries, then the undefined
 * colour as far as the pixels' indices reach past them (highest_index, below
 * 1 << info->bits; -1 when not known: the whole depth, 16 or 256 entries).
 * palette gets DAZ_PALETTE_BYTES: red, green, blue and 255 for *entries =
 * max(info->colors, highest_index + 1) entries (the undefined ones
 * DAZ_UNDEFINED_*), zero past them. */
DAZ_API int daz_display_palette(const daz_info* info, int highest_index, uint8_t* palette,
                                int* entries);

/* The bits a daz file needs for a palette of entries colours (1..256) whose
 * pixels use indices up to highest_index (0..255; -1: none): 4 when both fit
 * in 4 bits (entries <= 16, highest_index <= 15), else 8. */
DAZ_API int daz_bits_for(int entries, int highest_index, int* bits);

/* The key as text, four lower-case hexadecimal digits ("1f2e"), into
 * text[0, size) (size >= DAZ_KEY_TEXT_SIZE, else DAZ_ERR_BUFFER). */
DAZ_API int daz_key_to_text(uint16_t key, char* text, size_t size);

/* A key from text: 1 to 4 hexadecimal digits, either case, with or without
 * 0x/0X, a plus sign before them allowed (as orvx reads a key), ASCII
 * blanks (space, tab, newline, vertical tab, form feed, carriage return)
 * around allowed: " 0x1F2E", "+1f2e", "7". DAZ_ERR_ARGUMENT for anything
 * else: no digit, a fifth digit, a minus sign, any other character. */
DAZ_API int daz_key_from_text(const char* text, uint16_t* key);

/* Colour reduction and palette mapping: any image of red, green, blue and
 * alpha bytes (4 a pixel, rows stride bytes apart, top row first) to
 * indices, one byte a pixel, width bytes a row, top row first.
 *
 * Both are deterministic: the same pixels and options give the same bytes
 * on every processor and platform (integer arithmetic only). daz has no
 * transparency: each pixel is first composited over the background colour,
 * integer-rounded; with a transparent index, a pixel of alpha 0 gets that
 * index instead and takes no part in the rest.
 *
 * "Nearest" is by the library's own distance, not plain RGB: for a
 * difference (dr, dg, db) between a colour and an entry,
 * 3 (dr + dg + db)^2 + 6 (dr - dg)^2 + 2 (dr + dg - 2 db)^2, lightness apart
 * from the red-green and yellow-blue differences, these weighing more; of
 * entries equally near, the lowest index. On photos about 5% of pixels have
 * an entry nearer in plain RGB than the one they get. */

typedef enum daz_dither {
    DAZ_DITHER_NONE = 0,     /* each pixel gets its nearest entry */
    DAZ_DITHER_DIFFUSION = 1 /* error diffusion: what a pixel misses is
                                carried to its neighbours */
} daz_dither;

typedef struct daz_quantize_options {
    int colors;            /* reduction: at most this many entries, 2..256 */
    int dither;            /* a daz_dither */
    int transparent_index; /* -1: none; 0..255: the index of alpha 0 */
    uint8_t background[3]; /* red, green, blue under every other pixel */
    uint8_t reserved_byte; /* zero */
    uint32_t reserved[6];  /* zero: room for options to come */
} daz_quantize_options;

/* The defaults: 256 colours, no dithering, no transparent index, a black
 * background. Start from these, then set what differs. */
DAZ_API void daz_default_quantize_options(daz_quantize_options* options);

/* Reduction: the image's colours to a palette of at most options->colors
 * entries (NULL options: the defaults) and the indices onto it. An image of
 * that many colours or fewer (after compositing) keeps them exactly, in
 * order of first appearance. palette gets DAZ_PALETTE_BYTES: red, green,
 * blue and 0 for *entries entries, zero past them. With a transparent index
 * t (below colors), entry t is the background colour, no opaque pixel gets
 * it, and *entries is at least t + 1: it counts among colors, so only an
 * image of colors - 1 opaque colours or fewer keeps them exactly (red and
 * green under colors 2 and t 0 share one entry). indices_size short of width x height:
 * DAZ_ERR_BUFFER. limits as everywhere, max_bytes counting the call's
 * working memory (its histogram: some 9 MB at most, whatever the size);
 * past 2^30 pixels, DAZ_ERR_LIMITS; an image of no pixels is
 * DAZ_ERR_ARGUMENT. */
DAZ_API int daz_quantize(const uint8_t* rgba, size_t stride, uint32_t width, uint32_t height,
                         const daz_limits* limits, const daz_quantize_options* options,
                         uint8_t* palette, int* entries, uint8_t* indices, size_t indices_size);

/* Mapping: the image onto palette (entries of red, green, blue and a fourth
 * byte, 1..256 of them), which is neither changed nor reordered: each index
 * means the colour it meant. options->colors is not used; a transparent
 * index must be below entries and no opaque pixel gets it. */
DAZ_API int daz_remap(const uint8_t* rgba, size_t stride, uint32_t width, uint32_t height,
                      const daz_limits* limits, const daz_quantize_options* options,
                      const uint8_t* palette, int entries, uint8_t* indices, size_t indices_size);

/* Any image daz_guess_format knows (daz; BMP of 1 to 32 bits per pixel; PNG
 * of every colour type and depth, 16-bit samples cut to 8; PGM, PPM, PAM;
 * GIF's first frame as a browser shows it; TIFF's first page; JPEG with its
 * EXIF orientation applied; WebP, an animation's first frame; HEIF and AVIF
 * where the build has libheif) as red, green, blue and alpha, 4 x width bytes a row, top row first;
 * a daz image as daz_decode_rgba gives it. With rgba null, a size query: *width and *height only.
 * rgba_size short of 4 x width x height: DAZ_ERR_BUFFER. */
DAZ_API int daz_load_rgba(const void* data, size_t size, const daz_limits* limits, uint32_t* width,
                          uint32_t* height, uint8_t* rgba, size_t rgba_size);

/* The palette of an image, for daz_remap: a daz image's stored entries (the
 * fourth byte as stored), a palette bitmap's or PNG's entries (fourth byte
 * 0); for an image without one, its colours in order of first appearance
 * when there are at most 256 of them, else DAZ_ERR_NO_PALETTE. palette gets
 * DAZ_PALETTE_BYTES, zero past *entries. */
DAZ_API int daz_load_palette(const void* data, size_t size, const daz_limits* limits,
                             uint8_t* palette, int* entries);

/* Any image daz_load_rgba reads to a daz file: reduced to options->colors
 * (palette null), or mapped onto palette (entries of them, kept exactly as
 * given). The file has the palette's entries, all kept, 4 bits per pixel
 * for at most 16 entries and 8 for more, rows bottom-up, as daz_encode
 * writes them for a positive height, with key. out, capacity and written as
 * for daz_convert, but the size query (out null) reads the header alone and
 * gives the most the file can take: a palette of options->colors entries
 * (of entries, when given); *written then tells the file's size. max_bytes
 * counts, from the header, the RGBA image, its indices and the working
 * memory of the reader and the quantizer. */
DAZ_API int daz_reduce(const void* data, size_t size, const daz_limits* limits,
                       const daz_quantize_options* options, const uint8_t* palette, int entries,
                       uint16_t key, void* out, size_t capacity, size_t* written);

/* daz_reduce from a file to a file, with the safe output of the file calls
 * above. The image is held whole, as RGBA and its indices, within the
 * limits, and the file written a row at a time; a source that is a device
 * or FIFO is held whole too, with the file: DAZ_ERR_TOO_BIG_TO_HOLD past
 * max_bytes. */
DAZ_API int daz_reduce_file(const char* source, const char* destination, const daz_limits* limits,
                            const daz_quantize_options* options, const uint8_t* palette,
                            int entries, uint16_t key);

#ifdef __cplusplus
}
#endif

#endif /* DAZ_DAZ_H */
