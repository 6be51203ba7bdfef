/* daz_thumbnailer.c - a PNG thumbnail of a daz image, for file managers.
 *
 *   daz-thumbnailer [-s size] [--] image.daz thumbnail.png
 *   daz-thumbnailer --help
 *
 * The image is read a row at a time through libdaz's stream decoder and
 * boxed down into the thumbnail as the rows come: memory is one row of the
 * image and the thumbnail's sums, whatever the image's size. Neither edge of
 * the thumbnail exceeds size (default 128); a smaller image keeps its own
 * size, pixel for pixel. The PNG is made in memory and written with
 * daz_write_file, the commands' safe output: the destination holds its old
 * file or the whole new one, and a failure or a signal leaves no temporary
 * file.
 *
 * Silent on success. A failure prints one line in Italian on standard output
 * and exits with 255, as the other commands do; the lines are the commands'
 * own (cli/daz_messages.h), but for the two only a thumbnail has.
 *
 * C99 and POSIX.1-2008 (open, fstat, lstat, umask): the build defines
 * _POSIX_C_SOURCE.
 */
#include <daz/daz.h>

#include "cli/daz_messages.h"

#include <errno.h>
#include <fcntl.h>
#include <png.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { DEFAULT_SIZE = 128, MAX_SIZE = 1024, FAILURE_STATUS = 255 };

/* Result codes: DAZ_OK or a daz_error; three of our own past them. */
enum { THUMB_USAGE = -100, THUMB_NOT_REGULAR = -101, THUMB_HELP = -102 };

static const char USAGE_TEXT[] =
    "Uso: daz-thumbnailer [-s dimensione] immagine.daz miniatura.png  (dimensione: 1..1024, "
    "predefinita 128)\n\n";

static const char* message_for(int code) {
    switch (code) {
    case DAZ_ERR_LIMITS:
        return "L'immagine e' troppo grande per farne una miniatura";
    case DAZ_ERR_MEMORY:
        return "Memoria insufficiente";
    case DAZ_ERR_CALLBACK:
    case THUMB_NOT_REGULAR:
        return orvx_daz_message(DAZ_ERR_READ);
    default: {
        const char* line = orvx_daz_message(code);
        return line != NULL ? line : orvx_daz_message(DAZ_ERR_WRITE);
    }
    }
}

/* ---- Reading. ---- */

static int read_file(void* user, void* buffer, size_t size, size_t* got) {
    FILE* file = (FILE*)user;
    *got = fread(buffer, 1, size, file);
    return *got < size && ferror(file) ? -1 : 0;
}

/* The thumbnail's edges: the image's when it fits in size x size, else the
 * longer edge brought to size and the other in proportion, at least 1. */
static void thumbnail_size(uint32_t width, uint32_t rows, uint32_t size, uint32_t* out_width,
                           uint32_t* out_rows) {
    if (width <= size && rows <= size) {
        *out_width = width;
        *out_rows = rows;
    } else if (width >= rows) {
        uint64_t other = ((uint64_t)rows * size + width / 2) / width;
        *out_width = size;
        *out_rows = other > 0 ? (uint32_t)other : 1;
    } else {
        uint64_t other = ((uint64_t)width * size + rows / 2) / rows;
        *out_rows = size;
        *out_width = other > 0 ? (uint32_t)other : 1;
    }
}

/* A box filter: each thumbnail pixel is the mean of the image pixels that
 * fall in it; each source column and row falls in exactly one. */
typedef struct thumbnail {
    uint32_t width, rows;               /* the thumbnail's */
    uint32_t source_rows;               /* the image's */
    uint16_t* column_of;                /* per image column, its thumbnail column */
    uint32_t* column_count;             /* per thumbnail column, image columns in it */
    uint32_t* row_count;                /* per thumbnail row, image rows in it */
    uint64_t* sums;                     /* red, green, blue per thumbnail pixel */
    uint8_t colours[DAZ_PALETTE_BYTES]; /* red, green, blue, 255 per index, as shown */
} thumbnail;

static void free_thumbnail(thumbnail* t) {
    free(t->column_of);
    free(t->column_count);
    free(t->row_count);
    free(t->sums);
}

static int init_thumbnail(thumbnail* t, const daz_info* info, uint32_t rows, uint32_t size) {
    memset(t, 0, sizeof *t);
    int entries = 0;
    int error = daz_display_palette(info, -1, t->colours, &entries);
    if (error != DAZ_OK) {
        return error;
    }
    thumbnail_size(info->width, rows, size, &t->width, &t->rows);
    t->source_rows = rows;
    t->column_of = malloc(sizeof *t->column_of * info->width);
    t->column_count = calloc(t->width, sizeof *t->column_count);
    t->row_count = calloc(t->rows, sizeof *t->row_count);
    t->sums = calloc((size_t)t->width * t->rows * 3, sizeof *t->sums);
    if (!t->column_of || !t->column_count || !t->row_count || !t->sums) {
        free_thumbnail(t);
        return DAZ_ERR_MEMORY;
    }
    for (uint32_t x = 0; x < info->width; ++x) {
        t->column_of[x] = (uint16_t)((uint64_t)x * t->width / info->width);
        ++t->column_count[t->column_of[x]];
    }
    for (uint32_t y = 0; y < rows; ++y) {
        ++t->row_count[(uint64_t)y * t->rows / rows];
    }
    return DAZ_OK;
}

/* Adds one image row, top being its place from the top. */
static void add_row(thumbnail* t, const uint8_t* indices, uint32_t width, uint32_t top) {
    uint64_t* line = t->sums + (size_t)((uint64_t)top * t->rows / t->source_rows) * t->width * 3;
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* colour = t->colours + 4 * (size_t)indices[x];
        uint64_t* sum = line + (size_t)t->column_of[x] * 3;
        sum[0] += colour[0];
        sum[1] += colour[1];
        sum[2] += colour[2];
    }
}

/* Reads the whole image into the thumbnail. The rows are those the file
 * holds whole, up to |height|, as for dazbmp and dazpng. */
static int read_image(FILE* file, uint64_t file_size, uint32_t size, daz_info* info, thumbnail* t) {
    daz_decoder* decoder = NULL;
    int error = daz_decoder_create(read_file, file, NULL, &decoder, info);
    if (error != DAZ_OK) {
        return error;
    }
    uint32_t rows = 0;
    error = daz_rows_present(info, file_size, &rows);
    uint8_t* indices = error == DAZ_OK ? malloc(info->width) : NULL;
    if (error == DAZ_OK && indices == NULL) {
        error = DAZ_ERR_MEMORY;
    }
    if (error == DAZ_OK) {
        error = init_thumbnail(t, info, rows, size);
    }
    for (uint32_t read = 0; error == DAZ_OK && read < rows; ++read) {
        error = daz_decoder_read_row(decoder, indices, info->width, NULL);
        if (error == DAZ_OK) {
            add_row(t, indices, info->width, info->height < 0 ? read : rows - 1 - read);
        } else {
            free_thumbnail(t);
        }
    }
    free(indices);
    daz_decoder_destroy(decoder);
    return error;
}

static int open_image(const char* path, FILE** file, struct stat* status) {
    /* Not blocking on a FIFO: only a regular file is taken. */
    int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return DAZ_ERR_OPEN;
    }
    if (fstat(fd, status) != 0 || !S_ISREG(status->st_mode)) {
        close(fd);
        return THUMB_NOT_REGULAR;
    }
    *file = fdopen(fd, "rb");
    if (*file == NULL) {
        close(fd);
        return DAZ_ERR_OPEN;
    }
    return DAZ_OK;
}

/* ---- Writing. ---- */

/* The PNG as it is made, in memory. */
typedef struct png_bytes {
    uint8_t* data;
    size_t size, capacity;
    int failed;
} png_bytes;

static void append_png(png_structp png, png_bytep data, png_size_t size) {
    png_bytes* out = (png_bytes*)png_get_io_ptr(png);
    if (size > out->capacity - out->size) {
        size_t capacity = out->capacity > 0 ? out->capacity : 65536;
        while (capacity - out->size < size) {
            capacity *= 2;
        }
        uint8_t* grown = realloc(out->data, capacity);
        if (grown == NULL) {
            out->failed = 1;
            png_error(png, "out of memory");
        }
        out->data = grown;
        out->capacity = capacity;
    }
    memcpy(out->data + out->size, data, size);
    out->size += size;
}

static void flush_png(png_structp png) {
    (void)png;
}

typedef struct png_text_values {
    char width[16], height[16], size[24], mtime[24];
} png_text_values;

static int make_png(png_bytes* out, const thumbnail* t, const daz_info* info,
                    const struct stat* source) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
    png_infop png_info = png ? png_create_info_struct(png) : NULL;
    uint8_t* row = malloc((size_t)t->width * 3);
    if (png_info == NULL || row == NULL) {
        png_destroy_write_struct(&png, NULL);
        free(row);
        return DAZ_ERR_MEMORY;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &png_info);
        free(row);
        return out->failed ? DAZ_ERR_MEMORY : DAZ_ERR_WRITE;
    }
    png_set_write_fn(png, out, append_png, flush_png);
    png_set_IHDR(png, png_info, t->width, t->rows, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    /* The thumbnail keys that need no URI; a thumbnail cache adds
     * Thumb::URI itself. */
    png_text_values values;
    snprintf(values.width, sizeof values.width, "%lu", (unsigned long)info->width);
    snprintf(values.height, sizeof values.height, "%lu", (unsigned long)t->source_rows);
    snprintf(values.size, sizeof values.size, "%llu", (unsigned long long)source->st_size);
    snprintf(values.mtime, sizeof values.mtime, "%lld", (long long)source->st_mtime);
    png_text text[] = {
        {PNG_TEXT_COMPRESSION_NONE, "Thumb::Mimetype", "image/x-daz", 0, 0, NULL, NULL},
        {PNG_TEXT_COMPRESSION_NONE, "Thumb::Image::Width", values.width, 0, 0, NULL, NULL},
        {PNG_TEXT_COMPRESSION_NONE, "Thumb::Image::Height", values.height, 0, 0, NULL, NULL},
        {PNG_TEXT_COMPRESSION_NONE, "Thumb::Size", values.size, 0, 0, NULL, NULL},
        {PNG_TEXT_COMPRESSION_NONE, "Thumb::MTime", values.mtime, 0, 0, NULL, NULL},
    };
    png_set_text(png, png_info, text, (int)(sizeof text / sizeof text[0]));
    png_write_info(png, png_info);
    for (uint32_t y = 0; y < t->rows; ++y) {
        const uint64_t* sum = t->sums + (size_t)y * t->width * 3;
        for (uint32_t x = 0; x < t->width; ++x) {
            uint64_t count = (uint64_t)t->column_count[x] * t->row_count[y];
            for (uint32_t k = 0; k < 3; ++k) {
                row[x * 3 + k] = (uint8_t)((sum[x * 3 + k] + count / 2) / count);
            }
        }
        png_write_row(png, row);
    }
    png_write_end(png, png_info);
    png_destroy_write_struct(&png, &png_info);
    free(row);
    return DAZ_OK;
}

/* The PNG to destination, through the library's safe output. An existing
 * destination other than a regular file (a file manager names a new file),
 * or the image itself, is refused. */
static int save_png(const char* destination, const thumbnail* t, const daz_info* info,
                    const struct stat* source) {
    struct stat existing;
    if (lstat(destination, &existing) == 0 &&
        (!S_ISREG(existing.st_mode) ||
         (existing.st_dev == source->st_dev && existing.st_ino == source->st_ino))) {
        return DAZ_ERR_CREATE;
    }
    png_bytes out = {NULL, 0, 0, 0};
    int error = make_png(&out, t, info, source);
    if (error == DAZ_OK) {
        error = daz_write_file(destination, out.data, out.size);
    }
    free(out.data);
    return error;
}

/* ---- The command line. ---- */

static int parse_size(const char* text, uint32_t* size) {
    char* end = NULL;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || text[0] == '+' ||
        value < 1 || value > MAX_SIZE) {
        return THUMB_USAGE;
    }
    *size = (uint32_t)value;
    return DAZ_OK;
}

/* Options first: -s SIZE or -sSIZE, and -- before operands that may start
 * with '-'. --help alone asks for the usage text. */
static int run(int argc, char** argv) {
    uint32_t size = DEFAULT_SIZE;
    int first = 1;
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        return THUMB_HELP;
    }
    while (first < argc && argv[first][0] == '-' && argv[first][1] != '\0') {
        const char* option = argv[first++];
        if (strcmp(option, "--") == 0) {
            break;
        }
        if (strncmp(option, "-s", 2) != 0) {
            return THUMB_USAGE;
        }
        const char* value = option[2] != '\0' ? option + 2 : first < argc ? argv[first++] : NULL;
        if (value == NULL || parse_size(value, &size) != DAZ_OK) {
            return THUMB_USAGE;
        }
    }
    if (argc - first != 2) {
        return THUMB_USAGE;
    }
    FILE* file = NULL;
    struct stat source;
    int error = open_image(argv[first], &file, &source);
    if (error != DAZ_OK) {
        return error;
    }
    daz_info info;
    thumbnail t;
    error = read_image(file, (uint64_t)source.st_size, size, &info, &t);
    fclose(file);
    if (error != DAZ_OK) {
        return error;
    }
    error = save_png(argv[first + 1], &t, &info, &source);
    free_thumbnail(&t);
    return error;
}

int main(int argc, char** argv) {
    /* A new thumbnail is its owner's alone, as thumbnails are. */
    umask(S_IRWXG | S_IRWXO);
    int error = run(argc, argv);
    if (error == THUMB_USAGE || error == THUMB_HELP) {
        fputs(USAGE_TEXT, stdout);
    } else if (error != DAZ_OK) {
        printf(orvx_error_line_format(), message_for(error));
    }
    if (fflush(stdout) != 0 || (error != DAZ_OK && error != THUMB_HELP)) {
        return FAILURE_STATUS;
    }
    return 0;
}
