/* daz_coder.c - the DAZ coder for ImageMagick 6: daz images read and written
 * as PseudoClass images, on the public libdaz.
 *
 * Reading: the colormap is the daz palette, each pixel's index its daz
 * index. An index past the palette shows as libdaz's undefined colour
 * (DAZ_UNDEFINED_*): the colormap is extended with entries of that colour up
 * to the largest index used, so that every index stays as it was. The key
 * becomes the property daz:key (four hex digits), the stored palette count
 * daz:colors and the stored row order daz:order (bottom-up or top-down), so
 * that writing the image again without naming them keeps them.
 *
 * Writing: a PseudoClass image of at most 256 colours as it is; any other
 * image of at most 256 colours is made PseudoClass by ImageMagick itself
 * (SetImageType); one of more colours is refused, to be reduced with
 * -colors N. The key comes from -define daz:key=HEX, else from the property
 * daz:key, else 0; the palette entries kept from -define daz:colors=N (0:
 * all), else from the property daz:colors when the colormap entries past it
 * are all the undefined colour (as reading made them), else all of them; the
 * row order from -define daz:order, else the property, else bottom-up, as
 * orvx -c and pngdaz write. 4 bits per pixel when the colormap has at most 16
 * entries, else 8. Transparency and the palette's fourth byte are not kept:
 * the fourth byte is written 0, as pngdaz writes it.
 *
 * Rows go through libdaz's stream decoder and encoder: besides ImageMagick's
 * pixel cache, memory is one row.
 */
#include <daz/daz.h>

#include <magick/MagickCore.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* ImageMagick 6 exports its blob calls to coders but installs no header for
 * them (they are in its blob-private.h); these are its declarations. */
typedef enum {
    UndefinedBlobMode,
    ReadBlobMode,
    ReadBinaryBlobMode,
    WriteBlobMode,
    WriteBinaryBlobMode
} BlobMode;
extern MagickBooleanType OpenBlob(const ImageInfo*, Image*, const BlobMode, ExceptionInfo*);
extern MagickBooleanType CloseBlob(Image*);
extern ssize_t ReadBlob(Image*, const size_t, unsigned char*);
extern ssize_t WriteBlob(Image*, const size_t, const unsigned char*);

#define DAZ_ORDER_BOTTOM_UP "bottom-up"
#define DAZ_ORDER_TOP_DOWN "top-down"

static Quantum char_to_quantum(unsigned int value) {
    return (Quantum)(value * (QuantumRange / 255));
}

/* The exception for a libdaz result: ImageMagick's own message for the kind
 * of fault, libdaz's text, and the file's name. */
static void throw_daz(ExceptionInfo* exception, const char* function, size_t line, int error,
                      const char* filename) {
    ExceptionType severity = CorruptImageError;
    const char* tag = "ImproperImageHeader";
    switch (error) {
    case DAZ_ERR_TRUNCATED:
    case DAZ_ERR_NO_ROWS:
        tag = "InsufficientImageDataInFile";
        break;
    case DAZ_ERR_READ:
    case DAZ_ERR_CALLBACK:
        tag = "UnexpectedEndOfFile";
        break;
    case DAZ_ERR_LIMITS:
        severity = ImageError;
        tag = "WidthOrHeightExceedsLimit";
        break;
    case DAZ_ERR_MEMORY:
        severity = ResourceLimitError;
        tag = "MemoryAllocationFailed";
        break;
    case DAZ_ERR_WRITE:
        severity = BlobError;
        tag = "UnableToWriteBlob";
        break;
    case DAZ_ERR_COLORS:
    case DAZ_ERR_ARGUMENT:
        severity = ImageError;
        tag = "daz:colors";
        break;
    default:
        break;
    }
    (void)ThrowMagickException(exception, __FILE__, function, line, severity, tag, "(%s) `%s'",
                               daz_strerror(error), filename);
}

#define THROW_DAZ(exception, error, filename)                                                      \
    throw_daz(exception, __func__, (size_t)__LINE__, error, filename)
#define THROW(exception, severity, tag, filename)                                                  \
    (void)ThrowMagickException(exception, __FILE__, __func__, (size_t)__LINE__, severity, tag,     \
                               "`%s'", filename)

/* ---- Reading. ---- */

static MagickBooleanType IsDAZ(const unsigned char* magick, const size_t length) {
    return daz_guess_format(magick, length) == DAZ_FORMAT_DAZ ? MagickTrue : MagickFalse;
}

static int read_blob(void* user, void* buffer, size_t size, size_t* got) {
    ssize_t count = ReadBlob((Image*)user, size, (unsigned char*)buffer);
    if (count < 0) {
        return -1;
    }
    *got = (size_t)count;
    return 0;
}

static void set_properties(Image* image, const daz_info* info) {
    char text[16];
    (void)daz_key_to_text(info->key, text, sizeof text);
    (void)SetImageProperty(image, "daz:key", text);
    (void)snprintf(text, sizeof text, "%d", info->colors);
    (void)SetImageProperty(image, "daz:colors", text);
    (void)SetImageProperty(image, "daz:order",
                           info->height < 0 ? DAZ_ORDER_TOP_DOWN : DAZ_ORDER_BOTTOM_UP);
}

/* One row of indices into the pixel cache at y; the largest index into
 * *largest. */
static int put_row(Image* image, const unsigned char* row, ssize_t y, const PixelPacket* colours,
                   unsigned int* largest, ExceptionInfo* exception) {
    PixelPacket* q = QueueAuthenticPixels(image, 0, y, image->columns, 1, exception);
    IndexPacket* indexes = GetAuthenticIndexQueue(image);
    if (q == NULL || indexes == NULL) {
        return DAZ_ERR_CALLBACK;
    }
    unsigned int top = *largest;
    for (size_t x = 0; x < image->columns; ++x) {
        unsigned int index = row[x];
        top = index > top ? index : top;
        q[x] = colours[index];
        indexes[x] = (IndexPacket)index;
    }
    *largest = top;
    if (SyncAuthenticPixels(image, exception) == MagickFalse) {
        return DAZ_ERR_CALLBACK;
    }
    return SetImageProgress(image, "Load/Image", (MagickOffsetType)y, image->rows) == MagickFalse
               ? DAZ_ERR_CALLBACK
               : DAZ_OK;
}

/* A file: its rows go to the pixel cache as they come. A bottom-up file cut
 * short holds the image's lowest rows. */
static int read_rows(Image* image, daz_decoder* decoder, const daz_info* info,
                     const PixelPacket* colours, unsigned int* largest, ExceptionInfo* exception) {
    unsigned char* row = (unsigned char*)AcquireQuantumMemory(info->width, 1);
    if (row == NULL) {
        return DAZ_ERR_MEMORY;
    }
    uint32_t skipped = info->height > 0 ? info->rows - (uint32_t)image->rows : 0;
    int result = DAZ_OK;
    for (size_t i = 0; i < image->rows && result == DAZ_OK; ++i) {
        uint32_t place = 0;
        result = daz_decoder_read_row(decoder, row, info->width, &place);
        if (result == DAZ_OK) {
            result = put_row(image, row, (ssize_t)(place - skipped), colours, largest, exception);
        }
    }
    (void)RelinquishMagickMemory(row);
    return result;
}

/* A pipe, whose size is known only at its end: the rows are held as they
 * come, in a buffer grown with them, and *rows gets their count. */
static int hold_rows(daz_decoder* decoder, const daz_info* info, unsigned char** held,
                     uint32_t* rows) {
    uint32_t got = 0;
    uint32_t room = 0;
    int result = DAZ_OK;
    while (got < info->rows && result == DAZ_OK) {
        if (got == room) {
            room = room < info->rows / 2 ? (room > 0 ? 2 * room : 16) : info->rows;
            unsigned char* grown = (unsigned char*)ResizeQuantumMemory(*held, room, info->width);
            if (grown == NULL) {
                return DAZ_ERR_MEMORY;
            }
            *held = grown;
        }
        result =
            daz_decoder_read_row(decoder, *held + (size_t)got * info->width, info->width, NULL);
        got += result == DAZ_OK ? 1 : 0;
    }
    *rows = got;
    return result == DAZ_ERR_READ ? DAZ_OK : result;
}

static int put_held_rows(Image* image, const daz_info* info, const unsigned char* held,
                         const PixelPacket* colours, unsigned int* largest,
                         ExceptionInfo* exception) {
    int result = DAZ_OK;
    for (size_t i = 0; i < image->rows && result == DAZ_OK; ++i) {
        size_t y = info->height < 0 ? i : image->rows - 1 - i;
        result = put_row(image, held + i * info->width, (ssize_t)y, colours, largest, exception);
    }
    return result;
}

/* Each index's colour as libdaz shows it: the stored palette, then the
 * undefined colour, as far as highest (-1: every index of the depth). */
static int display_colours(const daz_info* info, int highest, PixelPacket* colours,
                           size_t* entries) {
    unsigned char palette[DAZ_PALETTE_BYTES];
    int count = 0;
    int result = daz_display_palette(info, highest, palette, &count);
    if (result != DAZ_OK) {
        return result;
    }
    for (int i = 0; i < DAZ_MAX_PALETTE; ++i) {
        const unsigned char* entry = palette + (size_t)4 * (size_t)i;
        colours[i].red = char_to_quantum(entry[0]);
        colours[i].green = char_to_quantum(entry[1]);
        colours[i].blue = char_to_quantum(entry[2]);
        colours[i].opacity = OpaqueOpacity;
    }
    *entries = (size_t)count;
    return DAZ_OK;
}

/* Past the stored palette, the colormap gets undefined-colour entries up to
 * the largest index, so that each index keeps its value. */
static int extend_colormap(Image* image, const daz_info* info, unsigned int largest) {
    PixelPacket colours[DAZ_MAX_PALETTE];
    size_t entries = 0;
    int result = display_colours(info, (int)largest, colours, &entries);
    if (result != DAZ_OK || entries <= image->colors) {
        return result;
    }
    PixelPacket* colormap =
        (PixelPacket*)ResizeQuantumMemory(image->colormap, entries, sizeof *colormap);
    if (colormap == NULL) {
        return DAZ_ERR_MEMORY;
    }
    memcpy(colormap + image->colors, colours + image->colors,
           (entries - image->colors) * sizeof *colormap);
    image->colormap = colormap;
    image->colors = entries;
    return DAZ_OK;
}

static Image* ReadDAZImage(const ImageInfo* image_info, ExceptionInfo* exception) {
    Image* image = AcquireImage(image_info);
    if (OpenBlob(image_info, image, ReadBinaryBlobMode, exception) == MagickFalse) {
        return DestroyImageList(image);
    }
    daz_decoder* decoder = NULL;
    daz_info info;
    int result = daz_decoder_create(read_blob, image, NULL, &decoder, &info);
    unsigned char* held = NULL;
    uint32_t rows = 0;
    /* GetBlobSize is 0 for a pipe, and for an empty file, refused above. */
    MagickSizeType size = GetBlobSize(image);
    if (result == DAZ_OK && size == 0) {
        result = hold_rows(decoder, &info, &held, &rows);
    } else if (result == DAZ_OK) {
        result = daz_rows_present(&info, (uint64_t)size, &rows);
    }
    if (result == DAZ_OK && rows == 0) {
        result = DAZ_ERR_NO_ROWS;
    }
    if (result != DAZ_OK) {
        THROW_DAZ(exception, result, image_info->filename);
        daz_decoder_destroy(decoder);
        (void)RelinquishMagickMemory(held);
        (void)CloseBlob(image);
        return DestroyImageList(image);
    }
    image->columns = info.width;
    image->rows = rows;
    image->depth = 8;
    image->compression = NoCompression;
    /* Every index the depth holds has its colour while the rows come. */
    PixelPacket colours[DAZ_MAX_PALETTE];
    size_t entries = 0;
    (void)display_colours(&info, -1, colours, &entries);
    MagickBooleanType ok = AcquireImageColormap(image, (size_t)info.colors);
    if (ok == MagickFalse) {
        THROW(exception, ResourceLimitError, "MemoryAllocationFailed", image_info->filename);
    } else {
        memcpy(image->colormap, colours, (size_t)info.colors * sizeof *colours);
        set_properties(image, &info);
    }
    if (ok != MagickFalse && image_info->ping == MagickFalse) {
        ok = SetImageExtent(image, image->columns, image->rows);
        if (ok == MagickFalse) {
            InheritException(exception, &image->exception);
        } else {
            unsigned int largest = 0;
            result = held != NULL ? put_held_rows(image, &info, held, colours, &largest, exception)
                                  : read_rows(image, decoder, &info, colours, &largest, exception);
            if (result == DAZ_OK) {
                result = extend_colormap(image, &info, largest);
            }
            /* A failure of the pixel cache has said why already. */
            if (result != DAZ_OK &&
                (result != DAZ_ERR_CALLBACK || exception->severity < ErrorException)) {
                THROW_DAZ(exception, result, image_info->filename);
            }
            ok = result == DAZ_OK ? MagickTrue : MagickFalse;
        }
    }
    daz_decoder_destroy(decoder);
    (void)RelinquishMagickMemory(held);
    (void)CloseBlob(image);
    if (ok == MagickFalse) {
        return DestroyImageList(image);
    }
    return GetFirstImageInList(image);
}

/* ---- Writing. ---- */

/* 0 to 256, in decimal. */
static int parse_colors(const char* text, int* colors) {
    size_t length = strlen(text);
    if (length == 0 || length > 3 || strspn(text, "0123456789") != length) {
        return 0;
    }
    long value = strtol(text, NULL, 10);
    if (value > DAZ_MAX_PALETTE) {
        return 0;
    }
    *colors = (int)value;
    return 1;
}

/* The image as PseudoClass with at most 256 colormap entries, or 0 with
 * the exception said. An image of at most 256 colours gets them all, by
 * ImageMagick's quantizer at full depth and without dithering. */
static int make_palette_image(const ImageInfo* image_info, Image* image) {
    ExceptionInfo* exception = &image->exception;
    if (image->colorspace != sRGBColorspace && image->colorspace != GRAYColorspace &&
        image->colorspace != RGBColorspace) {
        (void)TransformImageColorspace(image, sRGBColorspace);
    }
    if (image->storage_class != PseudoClass || image->colors > DAZ_MAX_PALETTE) {
        if (GetNumberColors(image, NULL, exception) <= DAZ_MAX_PALETTE) {
            QuantizeInfo* quantize_info = AcquireQuantizeInfo(image_info);
            quantize_info->number_colors = DAZ_MAX_PALETTE;
            quantize_info->tree_depth = 8;
            quantize_info->dither = MagickFalse;
            quantize_info->dither_method = NoDitherMethod;
            (void)QuantizeImage(quantize_info, image);
            (void)DestroyQuantizeInfo(quantize_info);
        }
    }
    if (image->storage_class != PseudoClass || image->colors == 0 ||
        image->colors > DAZ_MAX_PALETTE) {
        THROW(exception, ImageError,
              "daz holds at most 256 colours: reduce them first with -colors N",
              image_info->filename);
        return 0;
    }
    return 1;
}

/* The option -define name=..., else the image's property. */
static const char* setting(const ImageInfo* image_info, const Image* image, const char* name) {
    const char* value = GetImageOption(image_info, name);
    return value != NULL ? value : GetImageProperty(image, name);
}

/* The palette entries to keep: the define, else the count read from a daz
 * file when the entries past it are the undefined colour, else all (0). */
static int kept_colors(const ImageInfo* image_info, const Image* image, int* kept) {
    const char* value = GetImageOption(image_info, "daz:colors");
    if (value != NULL) {
        return parse_colors(value, kept);
    }
    *kept = 0;
    value = GetImageProperty(image, "daz:colors");
    int stored = 0;
    if (value != NULL && parse_colors(value, &stored) && stored > 0 &&
        (size_t)stored < image->colors) {
        for (size_t i = (size_t)stored; i < image->colors; ++i) {
            const PixelPacket* entry = image->colormap + i;
            if (ScaleQuantumToChar(entry->red) != DAZ_UNDEFINED_RED ||
                ScaleQuantumToChar(entry->green) != DAZ_UNDEFINED_GREEN ||
                ScaleQuantumToChar(entry->blue) != DAZ_UNDEFINED_BLUE) {
                return 1;
            }
        }
        *kept = stored;
    }
    return 1;
}

static int write_blob(void* user, const void* data, size_t size) {
    ssize_t count = WriteBlob((Image*)user, size, (const unsigned char*)data);
    return count >= 0 && (size_t)count == size ? 0 : -1;
}

/* The rows in stored order through the encoder. */
static int write_rows(Image* image, daz_encoder* encoder, int top_down) {
    ExceptionInfo* exception = &image->exception;
    unsigned char* row = (unsigned char*)AcquireQuantumMemory(image->columns, 1);
    if (row == NULL) {
        return DAZ_ERR_MEMORY;
    }
    int result = DAZ_OK;
    for (size_t i = 0; i < image->rows && result == DAZ_OK; ++i) {
        ssize_t y = (ssize_t)(top_down ? i : image->rows - 1 - i);
        const PixelPacket* p = GetVirtualPixels(image, 0, y, image->columns, 1, exception);
        const IndexPacket* indexes = GetVirtualIndexQueue(image);
        if (p == NULL || indexes == NULL) {
            result = DAZ_ERR_CALLBACK;
            break;
        }
        for (size_t x = 0; x < image->columns; ++x) {
            size_t index = (size_t)indexes[x];
            row[x] = (unsigned char)(index < image->colors ? index : 0);
        }
        result = daz_encoder_write_row(encoder, row, image->columns);
        if (result == DAZ_OK && SetImageProgress(image, "Save/Image", (MagickOffsetType)i,
                                                 image->rows) == MagickFalse) {
            result = DAZ_ERR_CALLBACK;
        }
    }
    (void)RelinquishMagickMemory(row);
    return result;
}

static MagickBooleanType WriteDAZImage(const ImageInfo* image_info, Image* image) {
    ExceptionInfo* exception = &image->exception;
    uint16_t key = 0;
    int kept = 0;
    const char* value = setting(image_info, image, "daz:key");
    if (value != NULL && daz_key_from_text(value, &key) != DAZ_OK) {
        THROW(exception, OptionError, "daz:key takes 1 to 4 hex digits", value);
        return MagickFalse;
    }
    if (!kept_colors(image_info, image, &kept)) {
        THROW(exception, OptionError, "daz:colors takes a count from 0 to 256",
              GetImageOption(image_info, "daz:colors"));
        return MagickFalse;
    }
    value = setting(image_info, image, "daz:order");
    int top_down = value != NULL && LocaleCompare(value, DAZ_ORDER_TOP_DOWN) == 0;
    if (value != NULL && !top_down && LocaleCompare(value, DAZ_ORDER_BOTTOM_UP) != 0) {
        THROW(exception, OptionError, "daz:order is bottom-up or top-down", value);
        return MagickFalse;
    }
    if (image->columns > DAZ_MAX_WIDTH || image->rows > (top_down ? DAZ_MAX_ROWS : 32767)) {
        THROW(exception, ImageError, "WidthOrHeightExceedsLimit", image_info->filename);
        return MagickFalse;
    }
    if (!make_palette_image(image_info, image)) {
        return MagickFalse;
    }
    if (kept > (int)image->colors) {
        THROW_DAZ(exception, DAZ_ERR_COLORS, image_info->filename);
        return MagickFalse;
    }
    uint8_t palette[DAZ_PALETTE_BYTES] = {0};
    for (size_t i = 0; i < image->colors; ++i) {
        palette[4 * i] = ScaleQuantumToChar(image->colormap[i].red);
        palette[4 * i + 1] = ScaleQuantumToChar(image->colormap[i].green);
        palette[4 * i + 2] = ScaleQuantumToChar(image->colormap[i].blue);
    }
    if (OpenBlob(image_info, image, WriteBinaryBlobMode, exception) == MagickFalse) {
        return MagickFalse;
    }
    int32_t height = top_down ? -(int32_t)image->rows : (int32_t)image->rows;
    /* write_rows gives every index past the colormap 0: the highest index
     * written is below its size. */
    int bits = 8;
    int result = daz_bits_for((int)image->colors, (int)image->colors - 1, &bits);
    daz_encoder* encoder = NULL;
    if (result == DAZ_OK) {
        result = daz_encoder_create(write_blob, image, (uint32_t)image->columns, height, bits,
                                    palette, (int)image->colors, kept, key, &encoder);
    }
    if (result == DAZ_OK) {
        result = write_rows(image, encoder, top_down);
    }
    if (result == DAZ_OK) {
        result = daz_encoder_finish(encoder, NULL);
    }
    daz_encoder_destroy(encoder);
    if (result != DAZ_OK && (result != DAZ_ERR_CALLBACK || exception->severity < ErrorException)) {
        THROW_DAZ(exception, result == DAZ_ERR_CALLBACK ? DAZ_ERR_WRITE : result,
                  image_info->filename);
    }
    (void)CloseBlob(image);
    return result == DAZ_OK ? MagickTrue : MagickFalse;
}

/* ---- The module. ---- */

ModuleExport size_t RegisterDAZImage(void) {
    MagickInfo* entry = SetMagickInfo("DAZ");
    entry->decoder = (DecodeImageHandler*)ReadDAZImage;
    entry->encoder = (EncodeImageHandler*)WriteDAZImage;
    entry->magick = (IsImageFormatHandler*)IsDAZ;
    entry->adjoin = MagickFalse;
    entry->description = ConstantString("daz palette image");
    entry->mime_type = ConstantString("image/x-daz");
    entry->version = ConstantString(daz_version_string());
    entry->magick_module = ConstantString("DAZ");
    (void)RegisterMagickInfo(entry);
    return MagickImageCoderSignature;
}

ModuleExport void UnregisterDAZImage(void) {
    (void)UnregisterMagickInfo("DAZ");
}
