/* io-daz.c - daz images for gdk-pixbuf, and so for GTK, eog and the
 * thumbnailers that use it.
 *
 * Read only. Both ways of loading go through libdaz's stream decoder, a row
 * at a time, each row put straight into the pixbuf at its place from the top
 * (rows come in stored order: bottom row first when the height is positive):
 * - the whole-file load knows the file's size, so a file cut short gives its
 *   whole rows, as daz_decode_rgba does;
 * - the incremental load (begin_load, load_increment, stop_load) holds the
 *   header, a row that hasn't all come yet and the pixbuf, whatever the
 *   image; it can't know the end ahead, so a file cut short is an error once
 *   its rows have been shown.
 * The pixbuf is RGB, 8 bits a channel, each pixel its palette colour and
 * DAZ_UNDEFINED_* for an index past the palette. A size asked for through
 * size_func that is smaller is made here, each pixel the mean of the image
 * pixels it covers (a box filter), so a thumbnail never holds the whole
 * image; a larger one is left to GdkPixbufLoader. The key and the palette's
 * colour count are the options "daz::key" (four hexadecimal digits) and
 * "daz::colors".
 */
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <daz/daz.h>

#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

enum {
    PREFIX_MAX = DAZ_HEADER_SIZE + DAZ_PALETTE_BYTES,
    FILE_CHUNK = 1 << 16,
    PREFAULT_BLOCK = 1 << 22
};

typedef struct {
    GdkPixbufModuleSizeFunc size_func;
    GdkPixbufModulePreparedFunc prepared_func;
    GdkPixbufModuleUpdatedFunc updated_func;
    gpointer user_data;

    /* Bytes given and not yet taken: never a whole header or row. */
    guint8* pending;
    gsize pending_start, pending_end, pending_capacity;
    /* The caller's piece, taken from after the pending bytes. */
    const guint8* chunk;
    gsize chunk_size;

    daz_decoder* decoder;
    daz_info info;
    gint64 known_size;                 /* the input's size when known ahead, else -1 */
    guint32 rows;                      /* the image's rows */
    guint32 done;                      /* rows decoded */
    guint8 colours[DAZ_PALETTE_BYTES]; /* red, green, blue and 255 for each index */
    guint8* indices;                   /* one row */

    GdkPixbuf* pixbuf;
    gboolean scaled;
    int out_width, out_height;
    gsize rowstride;
    gsize prefaulted;     /* the pixbuf's last block made present, plus one; 0: none */
    guint32* column_ends; /* scaled: the first image column past each pixbuf column */
    guint64* sums;        /* scaled: the band's red, green and blue sums per pixbuf column */
    guint32 band_seen;    /* scaled: rows summed into the band so far */
    gboolean failed;
} DazContext;

static gboolean fail_with(GError** error, int code, const char* message) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message);
    return FALSE;
}

static gboolean fail_daz(DazContext* context, GError** error, int status) {
    context->failed = TRUE;
    return fail_with(error,
                     status == DAZ_ERR_MEMORY || status == DAZ_ERR_LIMITS
                         ? GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY
                         : GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                     daz_strerror(status));
}

/* The decoder's input: the pending bytes, then the caller's piece. */
static int take_bytes(void* user, void* buffer, size_t size, size_t* got) {
    DazContext* context = user;
    guint8* out = buffer;
    gsize from_pending = MIN(size, context->pending_end - context->pending_start);
    if (from_pending > 0) {
        memcpy(out, context->pending + context->pending_start, from_pending);
        context->pending_start += from_pending;
    }
    gsize from_chunk = MIN(size - from_pending, context->chunk_size);
    if (from_chunk > 0) {
        memcpy(out + from_pending, context->chunk, from_chunk);
        context->chunk += from_chunk;
        context->chunk_size -= from_chunk;
    }
    *got = from_pending + from_chunk;
    return 0;
}

static gsize available(const DazContext* context) {
    return context->pending_end - context->pending_start + context->chunk_size;
}

static guint8 byte_at(const DazContext* context, gsize offset) {
    gsize in_pending = context->pending_end - context->pending_start;
    return offset < in_pending ? context->pending[context->pending_start + offset]
                               : context->chunk[offset - in_pending];
}

/* Bytes of the header and palette, from the colour count at bytes 10 and 11
 * once they are here; a count out of range leaves the decoder to refuse the
 * header alone. */
static gsize prefix_size(const DazContext* context) {
    if (available(context) < DAZ_HEADER_SIZE) {
        return DAZ_HEADER_SIZE;
    }
    int colors = (gint16)(guint16)(byte_at(context, 10) | byte_at(context, 11) << 8);
    return colors >= 1 && colors <= DAZ_MAX_PALETTE ? DAZ_HEADER_SIZE + 4 * (gsize)colors
                                                    : DAZ_HEADER_SIZE;
}

/* Keeps what is left of the caller's piece for the next one. */
static gboolean keep_rest(DazContext* context, GError** error) {
    gsize kept = context->pending_end - context->pending_start;
    gsize needed = kept + context->chunk_size;
    if (needed > context->pending_capacity) {
        gsize capacity = MAX(needed, (gsize)PREFIX_MAX);
        if (context->decoder != NULL) {
            capacity = MAX(capacity, (gsize)context->info.row_size);
        }
        guint8* grown = g_try_realloc(context->pending, capacity);
        if (grown == NULL) {
            return fail_daz(context, error, DAZ_ERR_MEMORY);
        }
        context->pending = grown;
        context->pending_capacity = capacity;
    }
    if (kept > 0) {
        memmove(context->pending, context->pending + context->pending_start, kept);
    }
    if (context->chunk_size > 0) {
        memcpy(context->pending + kept, context->chunk, context->chunk_size);
    }
    context->pending_start = 0;
    context->pending_end = needed;
    context->chunk = NULL;
    context->chunk_size = 0;
    return TRUE;
}

/* Boundaries of a box filter from size to out: the first of the size items
 * past the box of each of the out ones, item i being in box i * out / size. */
static guint32* box_ends(guint32 size, guint32 out) {
    guint32* ends = g_try_new(guint32, out);
    if (ends != NULL) {
        for (guint32 box = 0; box < out; ++box) {
            ends[box] = (guint32)(((guint64)(box + 1) * size + out - 1) / out);
        }
    }
    return ends;
}

static guint32 band_start(const DazContext* context, guint32 band) {
    return (guint32)(((guint64)band * context->rows + (guint64)context->out_height - 1) /
                     (guint64)context->out_height);
}

static void free_pixels(guchar* pixels, gpointer data) {
    (void)data;
    g_free(pixels);
}

/* The header is in: the decoder, the sizes asked for, the pixbuf. */
static gboolean start_image(DazContext* context, GError** error) {
    int status = daz_decoder_create(take_bytes, context, NULL, &context->decoder, &context->info);
    if (status != DAZ_OK) {
        context->decoder = NULL;
        return fail_daz(context, error, status);
    }
    const daz_info* info = &context->info;
    context->rows = info->rows;
    if (context->known_size >= 0) {
        /* A file cut short: its whole rows, as daz_decode gives them. */
        status = daz_rows_present(info, (guint64)context->known_size, &context->rows);
        if (status != DAZ_OK) {
            return fail_daz(context, error, status);
        }
    }
    /* The pixbuf is held whole: within the library's limits for the pixels
     * daz_decode_rgba would give (four bytes a pixel, the pixbuf three). */
    daz_info shown = *info;
    shown.rows = context->rows;
    size_t rgba_size = 0;
    status = daz_decoded_size(&shown, NULL, NULL, &rgba_size);
    if (status != DAZ_OK) {
        return fail_daz(context, error, status);
    }
    int entries = 0;
    status = daz_display_palette(info, -1, context->colours, &entries);
    if (status != DAZ_OK) {
        return fail_daz(context, error, status);
    }

    int width = (int)info->width, height = (int)context->rows;
    if (context->size_func != NULL) {
        context->size_func(&width, &height, context->user_data);
        if (width <= 0 || height <= 0) {
            context->failed = TRUE;
            return fail_with(error, GDK_PIXBUF_ERROR_FAILED, "daz image asked for at no size");
        }
    }
    context->scaled = width <= (int)info->width && height <= (int)context->rows &&
                      (width < (int)info->width || height < (int)context->rows);
    if (!context->scaled) {
        width = (int)info->width;
        height = (int)context->rows;
    }
    context->out_width = width;
    context->out_height = height;
    context->indices = g_try_malloc(info->width);
    if (context->scaled) {
        context->column_ends = box_ends(info->width, (guint32)width);
        context->sums = g_try_new0(guint64, 3 * (gsize)width);
    }
    /* Zeroed, so that rows not yet come are black; fresh pages are zero. */
    int rowstride = (3 * width + 3) & ~3;
    context->rowstride = (gsize)rowstride;
    guint8* pixels = g_try_malloc0(context->rowstride * (gsize)height);
    if (context->indices == NULL || pixels == NULL ||
        (context->scaled && (context->column_ends == NULL || context->sums == NULL))) {
        g_free(pixels);
        return fail_daz(context, error, DAZ_ERR_MEMORY);
    }
    context->pixbuf = gdk_pixbuf_new_from_data(pixels, GDK_COLORSPACE_RGB, FALSE, 8, width, height,
                                               rowstride, free_pixels, NULL);
    char text[16];
    (void)daz_key_to_text(info->key, text, sizeof text);
    gdk_pixbuf_set_option(context->pixbuf, "daz::key", text);
    g_snprintf(text, sizeof text, "%d", info->colors);
    gdk_pixbuf_set_option(context->pixbuf, "daz::colors", text);
    if (context->prepared_func != NULL) {
        context->prepared_func(context->pixbuf, NULL, context->user_data);
    }
    return TRUE;
}

/* Makes the pixbuf's pages under row y present a block of 4 MiB at a time,
 * ahead of the rows that fill it, in one call each: a page fault apiece
 * cost as much as decoding the row on the machines measured (a virtual
 * machine's faults are slow). Pages stay those of the pixbuf's allocation,
 * zero until written; only rows' blocks as they come, so a header claiming
 * many rows costs no memory. Where the system can't, the pages come as
 * they are written. */
static void prefault_row(DazContext* context, guint32 y) {
#ifdef MADV_POPULATE_WRITE
    long page_size = sysconf(_SC_PAGESIZE);
    gsize page = page_size > 0 ? (gsize)page_size : 4096;
    gsize total = context->rowstride * (gsize)context->out_height;
    if (total < 2 * PREFAULT_BLOCK) {
        return;
    }
    gsize block = (gsize)y * context->rowstride / PREFAULT_BLOCK;
    if (block + 1 == context->prefaulted) {
        return;
    }
    context->prefaulted = block + 1;
    guint8* pixels = gdk_pixbuf_get_pixels(context->pixbuf);
    guintptr start = ((guintptr)pixels + block * PREFAULT_BLOCK + page - 1) / page * page;
    guintptr end = ((guintptr)pixels + MIN(total, (block + 1) * PREFAULT_BLOCK)) / page * page;
    if (end > start) {
        (void)madvise((void*)start, end - start, MADV_POPULATE_WRITE);
    }
#else
    (void)context;
    (void)y;
#endif
}

/* Each pixel's colour four bytes at a time, the fourth overwritten by the
 * next pixel; three for the last one. */
static void put_row(DazContext* context, guint32 y) {
    prefault_row(context, y);
    guint8* restrict out = gdk_pixbuf_get_pixels(context->pixbuf) + (gsize)y * context->rowstride;
    const guint8* restrict index = context->indices;
    const guint8* restrict colours = context->colours;
    const guint8* end = index + context->info.width - 1;
    for (; index < end; ++index, out += 3) {
        memcpy(out, colours + 4 * *index, 4);
    }
    memcpy(out, colours + 4 * *index, 3);
    if (context->updated_func != NULL) {
        context->updated_func(context->pixbuf, 0, (int)y, context->out_width, 1,
                              context->user_data);
    }
}

/* Adds image row y to its band's sums; the band's last row writes the band. */
static void sum_row(DazContext* context, guint32 y) {
    guint64* sum = context->sums;
    const guint8* index = context->indices;
    guint32 x = 0;
    for (int column = 0; column < context->out_width; ++column, sum += 3) {
        for (guint32 end = context->column_ends[column]; x < end; ++x) {
            const guint8* colour = context->colours + 4 * *index++;
            sum[0] += colour[0];
            sum[1] += colour[1];
            sum[2] += colour[2];
        }
    }
    guint32 band = (guint32)((guint64)y * (guint64)context->out_height / context->rows);
    guint32 band_rows = band_start(context, band + 1) - band_start(context, band);
    if (++context->band_seen < band_rows) {
        return;
    }
    guint8* out = gdk_pixbuf_get_pixels(context->pixbuf) + (gsize)band * context->rowstride;
    guint32 first = 0;
    sum = context->sums;
    for (int column = 0; column < context->out_width; ++column) {
        guint64 count = (guint64)(context->column_ends[column] - first) * band_rows;
        first = context->column_ends[column];
        for (int channel = 0; channel < 3; ++channel, ++sum) {
            *out++ = (guint8)((*sum + count / 2) / count);
            *sum = 0;
        }
    }
    context->band_seen = 0;
    if (context->updated_func != NULL) {
        context->updated_func(context->pixbuf, 0, (int)band, context->out_width, 1,
                              context->user_data);
    }
}

/* Takes what the header or the next rows need from the pending bytes and
 * the caller's piece, and keeps the rest. */
static gboolean feed(DazContext* context, const guint8* data, gsize size, GError** error) {
    if (context->failed) {
        return fail_with(error, GDK_PIXBUF_ERROR_FAILED, "daz image already failed");
    }
    context->chunk = data;
    context->chunk_size = size;
    if (context->decoder == NULL) {
        if (available(context) < prefix_size(context)) {
            return keep_rest(context, error);
        }
        if (!start_image(context, error)) {
            return FALSE;
        }
    }
    /* Rows stored bottom-up in a file holding fewer than |height| are the
     * bottom ones: the image's rows are those present. */
    guint32 skipped = context->info.rows - context->rows;
    while (context->done < context->rows && available(context) >= context->info.row_size) {
        guint32 row = 0;
        int status =
            daz_decoder_read_row(context->decoder, context->indices, context->info.width, &row);
        if (status != DAZ_OK) {
            return fail_daz(context, error, status);
        }
        guint32 y = context->info.height > 0 ? row - skipped : row;
        if (y >= context->rows) { /* never: the decoder places every row */
            return fail_daz(context, error, DAZ_ERR_STATE);
        }
        if (context->scaled) {
            sum_row(context, y);
        } else {
            put_row(context, y);
        }
        ++context->done;
    }
    if (context->done == context->rows) {
        context->pending_start = context->pending_end = 0; /* bytes past the image */
        context->chunk_size = 0;
        return TRUE;
    }
    return keep_rest(context, error);
}

static void free_context(DazContext* context) {
    daz_decoder_destroy(context->decoder);
    if (context->pixbuf != NULL) {
        g_object_unref(context->pixbuf);
    }
    g_free(context->pending);
    g_free(context->indices);
    g_free(context->column_ends);
    g_free(context->sums);
    g_free(context);
}

/* The end of the input: a header never whole gets the library's own error
 * for what came; rows missing, an error of ours. */
static gboolean finish(DazContext* context, GError** error) {
    if (context->failed) {
        return FALSE;
    }
    if (context->decoder == NULL) {
        int status = daz_decoder_create(take_bytes, context, NULL, &context->decoder, NULL);
        return fail_daz(context, error, status != DAZ_OK ? status : DAZ_ERR_NO_ROWS);
    }
    if (context->done < context->rows) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                    "daz image cut short: %u of its %u rows", context->done, context->rows);
        return FALSE;
    }
    return TRUE;
}

static gpointer daz_begin_load(GdkPixbufModuleSizeFunc size_func,
                               GdkPixbufModulePreparedFunc prepared_func,
                               GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data,
                               GError** error) {
    DazContext* context = g_try_new0(DazContext, 1);
    if (context == NULL) {
        fail_with(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, daz_strerror(DAZ_ERR_MEMORY));
        return NULL;
    }
    context->size_func = size_func;
    context->prepared_func = prepared_func;
    context->updated_func = updated_func;
    context->user_data = user_data;
    context->known_size = -1;
    return context;
}

static gboolean daz_load_increment(gpointer data, const guchar* buffer, guint size,
                                   GError** error) {
    return feed(data, buffer, size, error);
}

static gboolean daz_stop_load(gpointer data, GError** error) {
    DazContext* context = data;
    gboolean ok = finish(context, error);
    free_context(context);
    return ok;
}

/* The bytes a regular file holds from where it is read; -1 when it can't
 * tell. */
static gint64 file_size(FILE* file) {
    struct stat status;
    long start = ftell(file);
    if (start < 0 || fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size < start) {
        return -1;
    }
    return (gint64)status.st_size - start;
}

static GdkPixbuf* daz_load(FILE* file, GError** error) {
    DazContext* context = daz_begin_load(NULL, NULL, NULL, NULL, error);
    if (context == NULL) {
        return NULL;
    }
    guint8* buffer = g_try_malloc(FILE_CHUNK);
    if (buffer == NULL) {
        fail_daz(context, error, DAZ_ERR_MEMORY);
        free_context(context);
        return NULL;
    }
    context->known_size = file_size(file);
    gboolean ok = TRUE;
    for (;;) {
        size_t got = fread(buffer, 1, FILE_CHUNK, file);
        if (got == 0) {
            break;
        }
        ok = feed(context, buffer, got, error);
        if (!ok || context->done == context->rows) {
            break;
        }
    }
    if (ok && ferror(file)) {
        ok = fail_daz(context, error, DAZ_ERR_READ);
    }
    ok = ok && finish(context, error);
    GdkPixbuf* pixbuf = ok ? g_object_ref(context->pixbuf) : NULL;
    g_free(buffer);
    free_context(context);
    return pixbuf;
}

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module);
G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info);

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
    module->load = daz_load;
    module->begin_load = daz_begin_load;
    module->stop_load = daz_stop_load;
    module->load_increment = daz_load_increment;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
    /* As daz_guess_format tells a daz image: by its first two bytes. */
    static GdkPixbufModulePattern signature[] = {{"EW", NULL, 100}, {NULL, NULL, 0}};
    static gchar* mime_types[] = {"image/x-daz", NULL};
    static gchar* extensions[] = {"daz", NULL};
    info->name = "daz";
    info->signature = signature;
    info->description = "daz palette image";
    info->mime_types = mime_types;
    info->extensions = extensions;
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
    info->license = "MIT"; /* the project's, as LICENSE says */
}
