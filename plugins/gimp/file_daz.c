/* file_daz.c - GIMP 2.10's daz file plug-in: file-daz-load opens a daz image
 * as an INDEXED image, file-daz-save exports one, on the public libdaz.
 *
 * Opening: the colormap is the daz palette, each pixel's index its daz
 * index. An index past the palette shows as libdaz's undefined colour
 * (DAZ_UNDEFINED_*): the colormap is extended with entries of that colour up
 * to the largest index used (indices are at most 255, so GIMP's 256 entries
 * always hold them) and every index stays as it was. Three persistent
 * parasites keep what GIMP has no place for: "daz-key" (the key, four hex
 * digits), "daz-colors" (the stored palette count) and "daz-order"
 * (bottom-up or top-down). A file cut short gives the whole rows present.
 *
 * Exporting: an INDEXED image (GIMP's export offers to convert any other and
 * merges the layers). The dialog asks for the key (the opened file's by
 * default) and the palette entries kept (by default the opened file's count
 * while the entries past it are still the undefined colour, else all). For
 * scripts, the procedure's arguments: key, a string of 1 to 4 hex digits
 * (as daz_key_from_text reads it: 0x and blanks around allowed), empty for
 * the image's own; colors, the count kept, 0 for the image's own. 4 bits
 * per pixel when the colormap has at most 16 entries and every index is
 * below 16, else 8 (daz_bits_for); rows in the image's stored order
 * (bottom-up unless it came top-down). Not kept: the palette's fourth byte
 * (written 0), transparency, bytes after the last row. The file is written through libdaz's daz_write_file: the destination
 * holds its old file or the whole new one.
 *
 * Pixels move through libgimp's pixel regions, deprecated in 2.10 for GEGL
 * buffers but still whole: a plug-in that takes GEGL buffers must call
 * gegl_init, whose start-up of babl took 1.2 s of processor time in each
 * call of the plug-in, more than opening an 8192 x 8192 image.
 */
#include <daz/daz.h>

#define GIMP_DISABLE_DEPRECATION_WARNINGS
#include <glib/gstdio.h>
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#define LOAD_PROC "file-daz-load"
#define SAVE_PROC "file-daz-save"
#define PLUG_IN_BINARY "file-daz"
#define PARASITE_KEY "daz-key"
#define PARASITE_COLORS "daz-colors"
#define PARASITE_ORDER "daz-order"
#define ORDER_TOP_DOWN "top-down"
#define ORDER_BOTTOM_UP "bottom-up"

static void query(void);
static void run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn_vals,
                GimpParam** return_vals);

const GimpPlugInInfo PLUG_IN_INFO = {NULL, NULL, query, run};

MAIN()

static void query(void) {
    static const GimpParamDef load_args[] = {
        {GIMP_PDB_INT32, "run-mode",
         "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }"},
        {GIMP_PDB_STRING, "filename", "The name of the file to load"},
        {GIMP_PDB_STRING, "raw-filename", "The name entered"},
    };
    static const GimpParamDef load_return[] = {{GIMP_PDB_IMAGE, "image", "Output image"}};
    static const GimpParamDef save_args[] = {
        {GIMP_PDB_INT32, "run-mode",
         "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }"},
        {GIMP_PDB_IMAGE, "image", "Input image"},
        {GIMP_PDB_DRAWABLE, "drawable", "Drawable to export"},
        {GIMP_PDB_STRING, "filename", "The name of the file to export the image in"},
        {GIMP_PDB_STRING, "raw-filename", "The name entered"},
        {GIMP_PDB_STRING, "key", "The key, 1 to 4 hex digits; empty: the image's own, else 0"},
        {GIMP_PDB_INT32, "colors",
         "Palette entries kept, 1 to 256; 0: the image's own count (all but the undefined "
         "entries added when it was opened)"},
    };
    gimp_install_procedure(LOAD_PROC, "Loads daz images",
                           "Opens a daz palette image as an INDEXED image, with its palette; "
                           "the key is kept in the parasite daz-key.",
                           "Orvanti", "Orvanti", "2026", "daz image", NULL, GIMP_PLUGIN,
                           G_N_ELEMENTS(load_args), G_N_ELEMENTS(load_return), load_args,
                           load_return);
    gimp_register_file_handler_mime(LOAD_PROC, "image/x-daz");
    gimp_register_magic_load_handler(LOAD_PROC, "daz", "", "0,string,EW");

    gimp_install_procedure(SAVE_PROC, "Exports daz images",
                           "Exports an INDEXED image as a daz palette image, with a key and a "
                           "count of palette entries kept.",
                           "Orvanti", "Orvanti", "2026", "daz image", "INDEXED*, GRAY*, RGB*",
                           GIMP_PLUGIN, G_N_ELEMENTS(save_args), 0, save_args, NULL);
    gimp_register_file_handler_mime(SAVE_PROC, "image/x-daz");
    gimp_register_save_handler(SAVE_PROC, "daz", "");
}

/* ---- Parasites. ---- */

static void attach_text(gint32 image, const char* name, const char* text) {
    GimpParasite* parasite =
        gimp_parasite_new(name, GIMP_PARASITE_PERSISTENT, (guint32)strlen(text), text);
    gimp_image_attach_parasite(image, parasite);
    gimp_parasite_free(parasite);
}

/* The parasite's text, at most size - 1 bytes; "" when absent. */
static void parasite_text(gint32 image, const char* name, char* text, size_t size) {
    text[0] = '\0';
    GimpParasite* parasite = gimp_image_get_parasite(image, name);
    if (parasite == NULL) {
        return;
    }
    glong length = gimp_parasite_data_size(parasite);
    if (length >= 0 && (size_t)length < size) {
        memcpy(text, gimp_parasite_data(parasite), (size_t)length);
        text[length] = '\0';
    }
    gimp_parasite_free(parasite);
}

/* ---- Loading. ---- */

static int read_file(void* user, void* buffer, size_t size, size_t* got) {
    FILE* file = (FILE*)user;
    *got = fread(buffer, 1, size, file);
    return *got < size && ferror(file) ? -1 : 0;
}

static const char* load_failure(int error) {
    switch (error) {
    case DAZ_ERR_LIMITS:
        return "the image is larger than daz images may be read";
    case DAZ_ERR_MEMORY:
        return "out of memory";
    case DAZ_ERR_READ:
    case DAZ_ERR_CALLBACK:
        return "read error";
    default:
        return daz_strerror(error);
    }
}

/* The indices, top row first, of the whole rows the file holds. */
static int read_indices(FILE* file, daz_info* info, guchar** indices, guint32* rows) {
    daz_decoder* decoder = NULL;
    int result = daz_decoder_create(read_file, file, NULL, &decoder, info);
    if (result != DAZ_OK) {
        return result;
    }
    struct stat status;
    /* A bottom-up file cut short holds the image's lowest rows. */
    *rows = 0;
    result = fstat(fileno(file), &status) == 0
                 ? daz_rows_present(info, (guint64)status.st_size, rows)
                 : DAZ_ERR_NO_ROWS;
    *indices = result == DAZ_OK ? g_try_malloc((gsize)*rows * info->width) : NULL;
    if (result == DAZ_OK && *indices == NULL) {
        result = DAZ_ERR_MEMORY;
    }
    for (guint32 i = 0; i < *rows && result == DAZ_OK; ++i) {
        /* The rows come in stored order. */
        guchar* row = *indices + (gsize)(info->height > 0 ? *rows - 1 - i : i) * info->width;
        result = daz_decoder_read_row(decoder, row, info->width, NULL);
    }
    daz_decoder_destroy(decoder);
    return result;
}

static gint32 load_image(const gchar* filename, GError** error) {
    FILE* file = g_fopen(filename, "rb");
    if (file == NULL) {
        g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(errno),
                    "Could not open '%s' for reading: %s", gimp_filename_to_utf8(filename),
                    g_strerror(errno));
        return -1;
    }
    gimp_progress_init_printf("Opening '%s'", gimp_filename_to_utf8(filename));
    daz_info info;
    guchar* indices = NULL;
    guint32 rows = 0;
    int result = read_indices(file, &info, &indices, &rows);
    fclose(file);
    if (result != DAZ_OK) {
        g_free(indices);
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_FAILED, "'%s' can't be opened: %s",
                    gimp_filename_to_utf8(filename), load_failure(result));
        return -1;
    }
    guint largest = 0;
    for (gsize i = 0, count = (gsize)rows * info.width; i < count; ++i) {
        largest = indices[i] > largest ? indices[i] : largest;
    }
    /* The palette, and past it the undefined colour up to the largest index. */
    guint8 palette[DAZ_PALETTE_BYTES];
    int entries = 0;
    result = daz_display_palette(&info, (int)largest, palette, &entries);
    if (result != DAZ_OK) {
        g_free(indices);
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_FAILED, "'%s' can't be opened: %s",
                    gimp_filename_to_utf8(filename), load_failure(result));
        return -1;
    }
    guchar colormap[3 * 256];
    for (gsize i = 0; i < (gsize)entries; ++i) {
        memcpy(colormap + 3 * i, palette + 4 * i, 3);
    }
    gint32 image = gimp_image_new((gint)info.width, (gint)rows, GIMP_INDEXED);
    gimp_image_set_filename(image, filename);
    gimp_image_set_colormap(image, colormap, (gint)entries);
    gint32 layer = gimp_layer_new(image, "Background", (gint)info.width, (gint)rows,
                                  GIMP_INDEXED_IMAGE, 100, GIMP_LAYER_MODE_NORMAL);
    gimp_image_insert_layer(image, layer, -1, 0);
    GimpDrawable* drawable = gimp_drawable_get(layer);
    GimpPixelRgn region;
    gimp_pixel_rgn_init(&region, drawable, 0, 0, (gint)info.width, (gint)rows, TRUE, FALSE);
    gimp_pixel_rgn_set_rect(&region, indices, 0, 0, (gint)info.width, (gint)rows);
    gimp_drawable_flush(drawable);
    gimp_drawable_detach(drawable);
    g_free(indices);

    char text[16];
    (void)daz_key_to_text(info.key, text, sizeof text);
    attach_text(image, PARASITE_KEY, text);
    g_snprintf(text, sizeof text, "%d", info.colors);
    attach_text(image, PARASITE_COLORS, text);
    attach_text(image, PARASITE_ORDER, info.height < 0 ? ORDER_TOP_DOWN : ORDER_BOTTOM_UP);
    gimp_progress_update(1.0);
    return image;
}

/* ---- Exporting. ---- */

typedef struct export_values {
    char key[32]; /* the key's text; "" for the image's own */
    gint colors;  /* 0: the image's own */
} export_values;

/* The colour count kept by default: the one the image was opened with while
 * the colormap's entries past it are the undefined colour, else all. */
static gint own_colors(gint32 image, const guchar* colormap, gint entries) {
    char text[16];
    parasite_text(image, PARASITE_COLORS, text, sizeof text);
    gint stored = (gint)strtol(text, NULL, 10);
    if (stored <= 0 || stored >= entries) {
        return entries;
    }
    for (gsize i = (gsize)stored; i < (gsize)entries; ++i) {
        if (colormap[3 * i] != DAZ_UNDEFINED_RED || colormap[3 * i + 1] != DAZ_UNDEFINED_GREEN ||
            colormap[3 * i + 2] != DAZ_UNDEFINED_BLUE) {
            return entries;
        }
    }
    return stored;
}

static gboolean export_dialog(export_values* values, gint entries) {
    gimp_ui_init(PLUG_IN_BINARY, FALSE);
    GtkWidget* dialog = gimp_export_dialog_new("daz", PLUG_IN_BINARY, SAVE_PROC);
    GtkWidget* table = gtk_table_new(2, 2, FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(table), 12);
    gtk_table_set_row_spacings(GTK_TABLE(table), 6);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_box_pack_start(GTK_BOX(gimp_export_dialog_get_content_area(dialog)), table, TRUE, TRUE, 0);

    GtkWidget* key = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(key), 4);
    gtk_entry_set_width_chars(GTK_ENTRY(key), 6);
    gtk_entry_set_text(GTK_ENTRY(key), values->key);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, 0, "_Key (hex):", 0.0f, 0.5f, key, 1, TRUE);

    GtkObject* adjustment = gtk_adjustment_new(values->colors, 1, entries, 1, 16, 0);
    GtkWidget* colors = gtk_spin_button_new(GTK_ADJUSTMENT(adjustment), 1, 0);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(colors), TRUE);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, 1, "_Colours kept:", 0.0f, 0.5f, colors, 1,
                              TRUE);
    gtk_widget_show_all(table);
    gtk_widget_show(dialog);

    gboolean run = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
    if (run) {
        g_strlcpy(values->key, gtk_entry_get_text(GTK_ENTRY(key)), sizeof values->key);
        values->colors = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(colors));
    }
    gtk_widget_destroy(dialog);
    return run;
}

/* The drawable's indices, one byte a pixel (an alpha byte dropped). */
static guchar* drawable_indices(gint32 drawable_id, gint width, gint height) {
    GimpDrawable* drawable = gimp_drawable_get(drawable_id);
    gsize step = drawable->bpp;
    guchar* pixels = g_try_malloc((gsize)width * (gsize)height * step);
    if (pixels != NULL) {
        GimpPixelRgn region;
        gimp_pixel_rgn_init(&region, drawable, 0, 0, width, height, FALSE, FALSE);
        gimp_pixel_rgn_get_rect(&region, pixels, 0, 0, width, height);
        for (gsize i = 1, count = (gsize)width * (gsize)height; step > 1 && i < count; ++i) {
            pixels[i] = pixels[i * step];
        }
    }
    gimp_drawable_detach(drawable);
    return pixels;
}

static gboolean save_image(const gchar* filename, gint32 image, gint32 drawable,
                           const export_values* values, GError** error) {
    const char* name = gimp_filename_to_utf8(filename);
    if (!gimp_drawable_is_indexed(drawable)) {
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_FAILED,
                    "daz holds indexed images only: convert '%s' with Image > Mode > Indexed "
                    "(at most 256 colours) first",
                    name);
        return FALSE;
    }
    guint16 key = 0;
    char own_key[16];
    parasite_text(image, PARASITE_KEY, own_key, sizeof own_key);
    const char* key_text = values->key[0] != '\0' ? values->key : own_key;
    if (key_text[0] != '\0' && daz_key_from_text(key_text, &key) != DAZ_OK) {
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_FAILED,
                    "'%s' is no daz key: give 1 to 4 hex digits", key_text);
        return FALSE;
    }
    gint entries = 0;
    guchar* colormap = gimp_image_get_colormap(image, &entries);
    if (entries < 1 || entries > DAZ_MAX_PALETTE) {
        g_free(colormap);
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_FAILED, "'%s' has an empty colormap", name);
        return FALSE;
    }
    gint kept = values->colors > 0 ? values->colors : own_colors(image, colormap, entries);
    if (kept > entries) {
        g_free(colormap);
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_FAILED,
                    "%d colours can't be kept: the colormap has %d", kept, entries);
        return FALSE;
    }
    guint8 palette[DAZ_PALETTE_BYTES] = {0};
    for (gsize i = 0; i < (gsize)entries; ++i) {
        memcpy(palette + 4 * i, colormap + 3 * i, 3);
    }
    g_free(colormap);

    gint width = gimp_drawable_width(drawable);
    gint height = gimp_drawable_height(drawable);
    char order[16];
    parasite_text(image, PARASITE_ORDER, order, sizeof order);
    gint top_down = strcmp(order, ORDER_TOP_DOWN) == 0;
    if (width > DAZ_MAX_WIDTH || height > (top_down ? DAZ_MAX_ROWS : DAZ_MAX_ROWS - 1)) {
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_FAILED,
                    "%d x %d is past what daz holds (65535 x 32767)", width, height);
        return FALSE;
    }
    guchar* indices = drawable_indices(drawable, width, height);
    size_t size = 0;
    int result = DAZ_ERR_MEMORY;
    gint32 stored_height = top_down ? -height : height;
    int bits = 8;
    if (indices != NULL) {
        /* An index may be past the colormap (one set by a script): it is
         * written as it is, an undefined pixel, and needs its bits. */
        int highest = 0;
        gsize count = entries <= 16 ? (gsize)width * (gsize)height : 0;
        for (gsize i = 0; i < count && highest < 16; ++i) {
            highest = indices[i] > highest ? indices[i] : highest;
        }
        result = daz_bits_for(entries, highest, &bits);
    }
    if (result == DAZ_OK) {
        result = daz_encode(indices, (size_t)width, (uint32_t)width, stored_height, bits, palette,
                            entries, kept, key, NULL, 0, &size, NULL);
    }
    void* data = result == DAZ_OK ? g_try_malloc(size) : NULL;
    if (result == DAZ_OK && data == NULL) {
        result = DAZ_ERR_MEMORY;
    }
    if (result == DAZ_OK) {
        result = daz_encode(indices, (size_t)width, (uint32_t)width, stored_height, bits, palette,
                            entries, kept, key, data, size, &size, NULL);
    }
    if (result == DAZ_OK) {
        result = daz_write_file(filename, data, size);
    }
    g_free(indices);
    g_free(data);
    if (result != DAZ_OK) {
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_FAILED, "'%s' can't be written: %s", name,
                    daz_strerror(result));
        return FALSE;
    }
    char text[16];
    (void)daz_key_to_text(key, text, sizeof text);
    attach_text(image, PARASITE_KEY, text);
    g_snprintf(text, sizeof text, "%d", kept);
    attach_text(image, PARASITE_COLORS, text);
    return TRUE;
}

/* Interactive: GIMP's export (conversion to indexed, merged layers), then
 * the dialog; *image and *drawable may become an exported copy. */
static GimpPDBStatusType ask(gint32* image, gint32* drawable, export_values* values,
                             gboolean* exported) {
    gimp_ui_init(PLUG_IN_BINARY, FALSE);
    GimpExportReturn export = gimp_export_image(
        image, drawable, "daz", GIMP_EXPORT_CAN_HANDLE_INDEXED | GIMP_EXPORT_CAN_HANDLE_ALPHA);
    if (export == GIMP_EXPORT_CANCEL) {
        return GIMP_PDB_CANCEL;
    }
    *exported = export == GIMP_EXPORT_EXPORT;
    gint entries = 0;
    guchar* colormap = gimp_image_get_colormap(*image, &entries);
    values->colors = entries > 0 ? own_colors(*image, colormap, entries) : 1;
    g_free(colormap);
    parasite_text(*image, PARASITE_KEY, values->key, sizeof values->key);
    if (values->key[0] == '\0') {
        g_strlcpy(values->key, "0", sizeof values->key);
    }
    return export_dialog(values, MAX(entries, 1)) ? GIMP_PDB_SUCCESS : GIMP_PDB_CANCEL;
}

static void run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn_vals,
                GimpParam** return_vals) {
    static GimpParam values[2];
    GimpRunMode run_mode = (GimpRunMode)param[0].data.d_int32;
    GimpPDBStatusType status = GIMP_PDB_SUCCESS;
    GError* error = NULL;

    *nreturn_vals = 1;
    *return_vals = values;
    values[0].type = GIMP_PDB_STATUS;

    if (strcmp(name, LOAD_PROC) == 0 && nparams >= 3) {
        gint32 image = load_image(param[1].data.d_string, &error);
        if (image != -1) {
            *nreturn_vals = 2;
            values[1].type = GIMP_PDB_IMAGE;
            values[1].data.d_image = image;
        } else {
            status = GIMP_PDB_EXECUTION_ERROR;
        }
    } else if (strcmp(name, SAVE_PROC) == 0 && nparams >= 5) {
        gint32 image = param[1].data.d_int32;
        gint32 drawable = param[2].data.d_int32;
        gboolean exported = FALSE;
        export_values options = {"", 0};
        if (run_mode == GIMP_RUN_INTERACTIVE) {
            status = ask(&image, &drawable, &options, &exported);
        } else if (run_mode == GIMP_RUN_NONINTERACTIVE && nparams >= 7) {
            if (param[5].data.d_string != NULL) {
                g_strlcpy(options.key, param[5].data.d_string, sizeof options.key);
                /* Longer than any key's text: kept so, and refused as no key. */
                if (strlen(param[5].data.d_string) >= sizeof options.key) {
                    g_strlcpy(options.key, "-", sizeof options.key);
                }
            }
            options.colors = param[6].data.d_int32;
            if (options.colors < 0 || options.colors > DAZ_MAX_PALETTE) {
                status = GIMP_PDB_CALLING_ERROR;
            }
        } else if (run_mode == GIMP_RUN_NONINTERACTIVE && nparams != 5) {
            status = GIMP_PDB_CALLING_ERROR;
        }
        if (status == GIMP_PDB_SUCCESS &&
            !save_image(param[3].data.d_string, image, drawable, &options, &error)) {
            status = GIMP_PDB_EXECUTION_ERROR;
        }
        if (exported) {
            gimp_image_delete(image);
        }
    } else {
        status = GIMP_PDB_CALLING_ERROR;
    }
    if (status != GIMP_PDB_SUCCESS && error != NULL) {
        *nreturn_vals = 2;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = error->message;
    }
    values[0].data.d_status = status;
}
