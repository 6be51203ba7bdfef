/* daz_wic.c - daz images for the Windows Imaging Component, and so for every
 * Windows program that opens images through it (Photos, Paint, Office,
 * Explorer's previews), as an in-process COM server: dazwic.dll.
 *
 * Read only. The decoder reads the header and palette through libdaz's
 * stream decoder when it is initialized, and the rows, all at once, the first
 * time a frame's pixels or palette are asked for; the rows present are those
 * of the stream's size, so a file cut short gives its whole rows. The frame
 * is 8bppIndexed for an 8-bit file and 4bppIndexed for a 4-bit one, its
 * palette the stored entries and then the undefined colour as far as the
 * pixels' indices reach past them (daz_display_palette). The key and the
 * colour count are the frame's metadata, "/key" (four hexadecimal digits)
 * and "/colors", through a query reader that answers those two names.
 *
 * Objects may be called from any thread (ThreadingModel Both): the decoder's
 * state changes only under its lock.
 */
#define COBJMACROS
#include <initguid.h>

#include <windows.h>

#include <objbase.h>
#include <olectl.h>
#include <wincodec.h>

#include <daz/daz.h>

#include "dazwic.h"

#include <stdlib.h>
#include <string.h>

static HMODULE module_handle;
static LONG live_objects; /* decoders, frames and readers not yet released */
static LONG server_locks; /* IClassFactory::LockServer */

/* A libdaz result as an HRESULT WIC callers know. */
static HRESULT from_daz(int status) {
    switch (status) {
    case DAZ_OK:
        return S_OK;
    case DAZ_ERR_MEMORY:
        return E_OUTOFMEMORY;
    case DAZ_ERR_LIMITS:
        return WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
    case DAZ_ERR_READ:
        return WINCODEC_ERR_STREAMREAD;
    case DAZ_ERR_NOT_DAZ:
    case DAZ_ERR_DAZ_BITS:
    case DAZ_ERR_DAZ_COLORS:
    case DAZ_ERR_TRUNCATED:
        return WINCODEC_ERR_BADHEADER;
    default:
        return WINCODEC_ERR_BADIMAGE;
    }
}

/* libdaz's read callback on an IStream: S_FALSE is a short read at its end. */
static int read_stream(void* user, void* buffer, size_t size, size_t* got) {
    ULONG read = 0;
    ULONG asked = size > 0x40000000 ? 0x40000000 : (ULONG)size;
    HRESULT result = IStream_Read((IStream*)user, buffer, asked, &read);
    if (FAILED(result)) {
        return 1;
    }
    *got = read;
    return 0;
}

/* The daz image the stream holds from its start (where WIC callers leave the
 * stream is theirs: Wine's leaves it past the bytes its pattern matched):
 * its decoder, positioned at the first row, and the whole rows the stream
 * holds, checked against the default limits. */
static HRESULT open_image(IStream* stream, daz_decoder** decoder, daz_info* info, uint32_t* rows) {
    STATSTG status;
    LARGE_INTEGER zero = {{0, 0}};
    if (stream == NULL) {
        return E_INVALIDARG;
    }
    HRESULT result = IStream_Stat(stream, &status, STATFLAG_NONAME);
    if (SUCCEEDED(result)) {
        result = IStream_Seek(stream, zero, STREAM_SEEK_SET, NULL);
    }
    if (FAILED(result)) {
        return result;
    }
    uint64_t size = status.cbSize.QuadPart;
    int code = daz_decoder_create(read_stream, stream, NULL, decoder, info);
    if (code != DAZ_OK) {
        return from_daz(code);
    }
    code = daz_rows_present(info, size, rows);
    if (code == DAZ_OK) {
        daz_info shown = *info;
        size_t indices_size = 0;
        shown.rows = *rows;
        code = daz_decoded_size(&shown, NULL, &indices_size, NULL);
    }
    if (code != DAZ_OK) {
        daz_decoder_destroy(*decoder);
        *decoder = NULL;
    }
    return from_daz(code);
}

/* ---- The decoder ---------------------------------------------------- */

typedef struct {
    IWICBitmapDecoder iface;
    LONG refs;
    CRITICAL_SECTION lock;
    IStream* stream;     /* held from Initialize until the rows are read */
    daz_decoder* reader; /* likewise */
    daz_info info;       /* the header; valid once initialized */
    uint32_t rows;       /* whole rows present */
    uint8_t* indices;    /* width x rows, top row first, once read */
    int highest;         /* the highest index in them */
    HRESULT read_result; /* S_FALSE until the rows are read (or failed) */
    BOOL initialized;
} Decoder;

typedef struct {
    IWICBitmapFrameDecode iface;
    LONG refs;
    Decoder* decoder;
} Frame;

typedef struct {
    IWICMetadataQueryReader iface;
    LONG refs;
    uint16_t key;
    int colors;
} Reader;

static Decoder* decoder_of(IWICBitmapDecoder* iface) {
    return (Decoder*)iface;
}
static Frame* frame_of(IWICBitmapFrameDecode* iface) {
    return (Frame*)iface;
}
static Reader* reader_of(IWICMetadataQueryReader* iface) {
    return (Reader*)iface;
}

/* The rows, read once, under the lock; later calls get the first's result. */
static HRESULT read_rows(Decoder* decoder) {
    EnterCriticalSection(&decoder->lock);
    if (decoder->read_result == S_FALSE) {
        const daz_info* info = &decoder->info;
        size_t width = info->width;
        uint8_t* indices = malloc(width * decoder->rows);
        HRESULT result = indices != NULL ? S_OK : E_OUTOFMEMORY;
        /* Stored bottom-up and cut short: the rows present are the bottom
         * ones, whose places from the top start past the missing ones. */
        uint32_t skipped = info->height > 0 ? info->rows - decoder->rows : 0;
        for (uint32_t done = 0; SUCCEEDED(result) && done < decoder->rows; ++done) {
            uint32_t y = info->height > 0 ? decoder->rows - 1 - done : done;
            uint32_t place = 0;
            int code = daz_decoder_read_row(decoder->reader, indices + width * y, width, &place);
            if (code != DAZ_OK) {
                result = from_daz(code);
            } else if (place - skipped != y) {
                result = WINCODEC_ERR_BADIMAGE; /* never: the decoder places each row */
            }
        }
        int highest = 0;
        if (SUCCEEDED(result)) {
            const uint8_t* end = indices + width * decoder->rows;
            for (const uint8_t* index = indices; index < end; ++index) {
                highest = *index > highest ? *index : highest;
            }
        }
        daz_decoder_destroy(decoder->reader);
        decoder->reader = NULL;
        IStream_Release(decoder->stream);
        decoder->stream = NULL;
        if (FAILED(result)) {
            free(indices);
            indices = NULL;
        }
        decoder->indices = indices;
        decoder->highest = highest;
        decoder->read_result = result;
    }
    HRESULT result = decoder->read_result;
    LeaveCriticalSection(&decoder->lock);
    return result;
}

static HRESULT STDMETHODCALLTYPE decoder_query_interface(IWICBitmapDecoder* iface, REFIID iid,
                                                         void** out) {
    if (out == NULL) {
        return E_INVALIDARG;
    }
    if (IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IWICBitmapDecoder)) {
        *out = iface;
        IWICBitmapDecoder_AddRef(iface);
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE decoder_add_ref(IWICBitmapDecoder* iface) {
    return (ULONG)InterlockedIncrement(&decoder_of(iface)->refs);
}

static ULONG STDMETHODCALLTYPE decoder_release(IWICBitmapDecoder* iface) {
    Decoder* decoder = decoder_of(iface);
    LONG refs = InterlockedDecrement(&decoder->refs);
    if (refs == 0) {
        daz_decoder_destroy(decoder->reader);
        if (decoder->stream != NULL) {
            IStream_Release(decoder->stream);
        }
        free(decoder->indices);
        DeleteCriticalSection(&decoder->lock);
        free(decoder);
        InterlockedDecrement(&live_objects);
    }
    return (ULONG)refs;
}

/* Reads the header and puts the stream back where it stood. */
static HRESULT STDMETHODCALLTYPE decoder_query_capability(IWICBitmapDecoder* iface, IStream* stream,
                                                          DWORD* capability) {
    (void)iface;
    LARGE_INTEGER zero = {{0, 0}};
    ULARGE_INTEGER start;
    daz_decoder* reader = NULL;
    daz_info info;
    uint32_t rows = 0;
    if (stream == NULL || capability == NULL) {
        return E_INVALIDARG;
    }
    HRESULT result = IStream_Seek(stream, zero, STREAM_SEEK_CUR, &start);
    if (FAILED(result)) {
        return result;
    }
    HRESULT opened = open_image(stream, &reader, &info, &rows);
    daz_decoder_destroy(reader);
    LARGE_INTEGER back;
    back.QuadPart = (LONGLONG)start.QuadPart;
    result = IStream_Seek(stream, back, STREAM_SEEK_SET, NULL);
    *capability = SUCCEEDED(opened) ? WICBitmapDecoderCapabilityCanDecodeAllImages : 0;
    return result;
}

static HRESULT STDMETHODCALLTYPE decoder_initialize(IWICBitmapDecoder* iface, IStream* stream,
                                                    WICDecodeOptions options) {
    (void)options;
    Decoder* decoder = decoder_of(iface);
    EnterCriticalSection(&decoder->lock);
    HRESULT result = WINCODEC_ERR_WRONGSTATE;
    if (!decoder->initialized) {
        result = open_image(stream, &decoder->reader, &decoder->info, &decoder->rows);
        if (SUCCEEDED(result)) {
            decoder->stream = stream;
            IStream_AddRef(stream);
            decoder->initialized = TRUE;
        }
    }
    LeaveCriticalSection(&decoder->lock);
    return result;
}

static HRESULT STDMETHODCALLTYPE decoder_get_container_format(IWICBitmapDecoder* iface,
                                                              GUID* format) {
    (void)iface;
    if (format == NULL) {
        return E_INVALIDARG;
    }
    *format = GUID_ContainerFormatDaz;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE decoder_get_decoder_info(IWICBitmapDecoder* iface,
                                                          IWICBitmapDecoderInfo** info) {
    (void)iface;
    IWICImagingFactory* factory = NULL;
    IWICComponentInfo* component = NULL;
    if (info == NULL) {
        return E_INVALIDARG;
    }
    *info = NULL;
    HRESULT result = CoCreateInstance(&CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER,
                                      &IID_IWICImagingFactory, (void**)&factory);
    if (SUCCEEDED(result)) {
        result = IWICImagingFactory_CreateComponentInfo(factory, &CLSID_DazWicDecoder, &component);
        IWICImagingFactory_Release(factory);
    }
    if (SUCCEEDED(result)) {
        result =
            IWICComponentInfo_QueryInterface(component, &IID_IWICBitmapDecoderInfo, (void**)info);
        IWICComponentInfo_Release(component);
    }
    return result;
}

static HRESULT STDMETHODCALLTYPE decoder_copy_palette(IWICBitmapDecoder* iface,
                                                      IWICPalette* palette) {
    (void)iface;
    (void)palette;
    return WINCODEC_ERR_PALETTEUNAVAILABLE; /* the frame has it */
}

static HRESULT STDMETHODCALLTYPE
decoder_get_metadata_query_reader(IWICBitmapDecoder* iface, IWICMetadataQueryReader** reader) {
    (void)iface;
    if (reader != NULL) {
        *reader = NULL;
    }
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
}

static HRESULT STDMETHODCALLTYPE decoder_get_preview(IWICBitmapDecoder* iface,
                                                     IWICBitmapSource** preview) {
    (void)iface;
    if (preview != NULL) {
        *preview = NULL;
    }
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
}

static HRESULT STDMETHODCALLTYPE decoder_get_color_contexts(IWICBitmapDecoder* iface, UINT count,
                                                            IWICColorContext** contexts,
                                                            UINT* actual) {
    (void)iface;
    (void)count;
    (void)contexts;
    if (actual == NULL) {
        return E_INVALIDARG;
    }
    *actual = 0;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE decoder_get_thumbnail(IWICBitmapDecoder* iface,
                                                       IWICBitmapSource** thumbnail) {
    (void)iface;
    if (thumbnail != NULL) {
        *thumbnail = NULL;
    }
    return WINCODEC_ERR_CODECNOTHUMBNAIL;
}

static HRESULT STDMETHODCALLTYPE decoder_get_frame_count(IWICBitmapDecoder* iface, UINT* count) {
    if (count == NULL) {
        return E_INVALIDARG;
    }
    if (!decoder_of(iface)->initialized) {
        return WINCODEC_ERR_NOTINITIALIZED;
    }
    *count = 1;
    return S_OK;
}

static const IWICBitmapFrameDecodeVtbl frame_vtable;

static HRESULT STDMETHODCALLTYPE decoder_get_frame(IWICBitmapDecoder* iface, UINT index,
                                                   IWICBitmapFrameDecode** out) {
    Decoder* decoder = decoder_of(iface);
    if (out == NULL) {
        return E_INVALIDARG;
    }
    *out = NULL;
    if (!decoder->initialized) {
        return WINCODEC_ERR_NOTINITIALIZED;
    }
    if (index != 0) {
        return WINCODEC_ERR_FRAMEMISSING;
    }
    Frame* frame = calloc(1, sizeof *frame);
    if (frame == NULL) {
        return E_OUTOFMEMORY;
    }
    frame->iface.lpVtbl = (IWICBitmapFrameDecodeVtbl*)&frame_vtable;
    frame->refs = 1;
    frame->decoder = decoder;
    IWICBitmapDecoder_AddRef(iface);
    InterlockedIncrement(&live_objects);
    *out = &frame->iface;
    return S_OK;
}

static const IWICBitmapDecoderVtbl decoder_vtable = {
    decoder_query_interface,
    decoder_add_ref,
    decoder_release,
    decoder_query_capability,
    decoder_initialize,
    decoder_get_container_format,
    decoder_get_decoder_info,
    decoder_copy_palette,
    decoder_get_metadata_query_reader,
    decoder_get_preview,
    decoder_get_color_contexts,
    decoder_get_thumbnail,
    decoder_get_frame_count,
    decoder_get_frame,
};

static HRESULT create_decoder(REFIID iid, void** out) {
    Decoder* decoder = calloc(1, sizeof *decoder);
    if (decoder == NULL) {
        return E_OUTOFMEMORY;
    }
    decoder->iface.lpVtbl = (IWICBitmapDecoderVtbl*)&decoder_vtable;
    decoder->refs = 1;
    decoder->read_result = S_FALSE;
    InitializeCriticalSection(&decoder->lock);
    InterlockedIncrement(&live_objects);
    HRESULT result = IWICBitmapDecoder_QueryInterface(&decoder->iface, iid, out);
    IWICBitmapDecoder_Release(&decoder->iface);
    return result;
}

/* ---- The frame ------------------------------------------------------ */

static HRESULT STDMETHODCALLTYPE frame_query_interface(IWICBitmapFrameDecode* iface, REFIID iid,
                                                       void** out) {
    if (out == NULL) {
        return E_INVALIDARG;
    }
    if (IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IWICBitmapSource) ||
        IsEqualIID(iid, &IID_IWICBitmapFrameDecode)) {
        *out = iface;
        IWICBitmapFrameDecode_AddRef(iface);
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE frame_add_ref(IWICBitmapFrameDecode* iface) {
    return (ULONG)InterlockedIncrement(&frame_of(iface)->refs);
}

static ULONG STDMETHODCALLTYPE frame_release(IWICBitmapFrameDecode* iface) {
    Frame* frame = frame_of(iface);
    LONG refs = InterlockedDecrement(&frame->refs);
    if (refs == 0) {
        IWICBitmapDecoder_Release(&frame->decoder->iface);
        free(frame);
        InterlockedDecrement(&live_objects);
    }
    return (ULONG)refs;
}

static HRESULT STDMETHODCALLTYPE frame_get_size(IWICBitmapFrameDecode* iface, UINT* width,
                                                UINT* height) {
    const Decoder* decoder = frame_of(iface)->decoder;
    if (width == NULL || height == NULL) {
        return E_INVALIDARG;
    }
    *width = decoder->info.width;
    *height = decoder->rows;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE frame_get_pixel_format(IWICBitmapFrameDecode* iface,
                                                        WICPixelFormatGUID* format) {
    if (format == NULL) {
        return E_INVALIDARG;
    }
    *format = frame_of(iface)->decoder->info.bits == 4 ? GUID_WICPixelFormat4bppIndexed
                                                       : GUID_WICPixelFormat8bppIndexed;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE frame_get_resolution(IWICBitmapFrameDecode* iface, double* x,
                                                      double* y) {
    (void)iface;
    if (x == NULL || y == NULL) {
        return E_INVALIDARG;
    }
    *x = *y = 96.0; /* the file says none */
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE frame_copy_palette(IWICBitmapFrameDecode* iface,
                                                    IWICPalette* palette) {
    Decoder* decoder = frame_of(iface)->decoder;
    uint8_t rgba[DAZ_PALETTE_BYTES];
    WICColor colours[DAZ_MAX_PALETTE];
    int entries = 0;
    if (palette == NULL) {
        return E_INVALIDARG;
    }
    HRESULT result = read_rows(decoder);
    if (FAILED(result)) {
        return result;
    }
    result = from_daz(daz_display_palette(&decoder->info, decoder->highest, rgba, &entries));
    if (FAILED(result)) {
        return result;
    }
    for (int entry = 0; entry < entries; ++entry) {
        const uint8_t* colour = rgba + 4 * entry;
        colours[entry] = (WICColor)colour[3] << 24 | (WICColor)colour[0] << 16 |
                         (WICColor)colour[1] << 8 | colour[2];
    }
    return IWICPalette_InitializeCustom(palette, colours, (UINT)entries);
}

/* The rectangle's indices, 8 bits a pixel as held, or packed two to a byte,
 * the left one in the high nibble, for a 4-bit file. */
static HRESULT STDMETHODCALLTYPE frame_copy_pixels(IWICBitmapFrameDecode* iface,
                                                   const WICRect* rect, UINT stride,
                                                   UINT buffer_size, BYTE* buffer) {
    Decoder* decoder = frame_of(iface)->decoder;
    const UINT width = decoder->info.width;
    const WICRect whole = {0, 0, (INT)width, (INT)decoder->rows};
    if (rect == NULL) {
        rect = &whole;
    }
    if (rect->X < 0 || rect->Y < 0 || rect->Width < 0 || rect->Height < 0 ||
        (UINT64)rect->X + (UINT64)rect->Width > width ||
        (UINT64)rect->Y + (UINT64)rect->Height > decoder->rows) {
        return E_INVALIDARG;
    }
    if (rect->Width == 0 || rect->Height == 0) {
        return S_OK;
    }
    const UINT bits = (UINT)decoder->info.bits;
    const UINT64 row_bytes = ((UINT64)rect->Width * bits + 7) / 8;
    if (buffer == NULL || stride < row_bytes) {
        return E_INVALIDARG;
    }
    if ((UINT64)stride * (UINT64)(rect->Height - 1) + row_bytes > buffer_size) {
        return WINCODEC_ERR_INSUFFICIENTBUFFER;
    }
    HRESULT result = read_rows(decoder);
    if (FAILED(result)) {
        return result;
    }
    for (INT y = 0; y < rect->Height; ++y) {
        const uint8_t* from =
            decoder->indices + (size_t)width * (size_t)(rect->Y + y) + (size_t)rect->X;
        BYTE* to = buffer + (size_t)stride * (size_t)y;
        if (bits == 8) {
            memcpy(to, from, (size_t)rect->Width);
            continue;
        }
        INT x = 0;
        for (; x + 1 < rect->Width; x += 2) {
            *to++ = (BYTE)(from[x] << 4 | from[x + 1]);
        }
        if (x < rect->Width) {
            *to = (BYTE)(from[x] << 4);
        }
    }
    return S_OK;
}

static HRESULT create_reader(const daz_info* info, IWICMetadataQueryReader** out);

static HRESULT STDMETHODCALLTYPE frame_get_metadata_query_reader(IWICBitmapFrameDecode* iface,
                                                                 IWICMetadataQueryReader** out) {
    if (out == NULL) {
        return E_INVALIDARG;
    }
    return create_reader(&frame_of(iface)->decoder->info, out);
}

static HRESULT STDMETHODCALLTYPE frame_get_color_contexts(IWICBitmapFrameDecode* iface, UINT count,
                                                          IWICColorContext** contexts,
                                                          UINT* actual) {
    (void)iface;
    (void)count;
    (void)contexts;
    if (actual == NULL) {
        return E_INVALIDARG;
    }
    *actual = 0;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE frame_get_thumbnail(IWICBitmapFrameDecode* iface,
                                                     IWICBitmapSource** thumbnail) {
    (void)iface;
    if (thumbnail != NULL) {
        *thumbnail = NULL;
    }
    return WINCODEC_ERR_CODECNOTHUMBNAIL;
}

static const IWICBitmapFrameDecodeVtbl frame_vtable = {
    frame_query_interface,    frame_add_ref,          frame_release,
    frame_get_size,           frame_get_pixel_format, frame_get_resolution,
    frame_copy_palette,       frame_copy_pixels,      frame_get_metadata_query_reader,
    frame_get_color_contexts, frame_get_thumbnail,
};

/* ---- The metadata: "/key" and "/colors" ------------------------------ */

static HRESULT STDMETHODCALLTYPE reader_query_interface(IWICMetadataQueryReader* iface, REFIID iid,
                                                        void** out) {
    if (out == NULL) {
        return E_INVALIDARG;
    }
    if (IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IWICMetadataQueryReader)) {
        *out = iface;
        IWICMetadataQueryReader_AddRef(iface);
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE reader_add_ref(IWICMetadataQueryReader* iface) {
    return (ULONG)InterlockedIncrement(&reader_of(iface)->refs);
}

static ULONG STDMETHODCALLTYPE reader_release(IWICMetadataQueryReader* iface) {
    Reader* reader = reader_of(iface);
    LONG refs = InterlockedDecrement(&reader->refs);
    if (refs == 0) {
        free(reader);
        InterlockedDecrement(&live_objects);
    }
    return (ULONG)refs;
}

static HRESULT STDMETHODCALLTYPE reader_get_container_format(IWICMetadataQueryReader* iface,
                                                             GUID* format) {
    (void)iface;
    if (format == NULL) {
        return E_INVALIDARG;
    }
    *format = GUID_ContainerFormatDaz;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE reader_get_location(IWICMetadataQueryReader* iface, UINT size,
                                                     WCHAR* text, UINT* length) {
    (void)iface;
    if (length == NULL) {
        return E_INVALIDARG;
    }
    *length = 2; /* "/" and its terminating zero */
    if (text != NULL) {
        if (size < 2) {
            return WINCODEC_ERR_INSUFFICIENTBUFFER;
        }
        text[0] = L'/';
        text[1] = L'\0';
    }
    return S_OK;
}

/* "/key": the key as four hexadecimal digits (VT_LPWSTR, the caller frees
 * it with PropVariantClear); "/colors": the stored palette entries (VT_UI2). */
static HRESULT STDMETHODCALLTYPE reader_get_metadata_by_name(IWICMetadataQueryReader* iface,
                                                             LPCWSTR name, PROPVARIANT* value) {
    const Reader* reader = reader_of(iface);
    if (name == NULL) {
        return E_INVALIDARG;
    }
    BOOL is_key = lstrcmpiW(name, L"/key") == 0;
    if (!is_key && lstrcmpiW(name, L"/colors") != 0) {
        return WINCODEC_ERR_PROPERTYNOTFOUND;
    }
    if (value == NULL) {
        return S_OK; /* a question whether the name is there */
    }
    PropVariantInit(value);
    if (!is_key) {
        value->vt = VT_UI2;
        value->uiVal = (USHORT)reader->colors;
        return S_OK;
    }
    char text[DAZ_KEY_TEXT_SIZE];
    HRESULT result = from_daz(daz_key_to_text(reader->key, text, sizeof text));
    WCHAR* wide = CoTaskMemAlloc(sizeof(WCHAR) * DAZ_KEY_TEXT_SIZE);
    if (SUCCEEDED(result) && wide == NULL) {
        result = E_OUTOFMEMORY;
    }
    if (FAILED(result)) {
        CoTaskMemFree(wide);
        return result;
    }
    for (int place = 0; place < DAZ_KEY_TEXT_SIZE; ++place) {
        wide[place] = (WCHAR)text[place];
    }
    value->vt = VT_LPWSTR;
    value->pwszVal = wide;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE reader_get_enumerator(IWICMetadataQueryReader* iface,
                                                       IEnumString** names) {
    (void)iface;
    if (names != NULL) {
        *names = NULL;
    }
    return WINCODEC_ERR_UNSUPPORTEDOPERATION; /* the two names are documented */
}

static const IWICMetadataQueryReaderVtbl reader_vtable = {
    reader_query_interface,      reader_add_ref,      reader_release,
    reader_get_container_format, reader_get_location, reader_get_metadata_by_name,
    reader_get_enumerator,
};

static HRESULT create_reader(const daz_info* info, IWICMetadataQueryReader** out) {
    Reader* reader = calloc(1, sizeof *reader);
    *out = NULL;
    if (reader == NULL) {
        return E_OUTOFMEMORY;
    }
    reader->iface.lpVtbl = (IWICMetadataQueryReaderVtbl*)&reader_vtable;
    reader->refs = 1;
    reader->key = info->key;
    reader->colors = info->colors;
    InterlockedIncrement(&live_objects);
    *out = &reader->iface;
    return S_OK;
}

/* ---- The class factory and the DLL's entry points ------------------- */

static HRESULT STDMETHODCALLTYPE factory_query_interface(IClassFactory* iface, REFIID iid,
                                                         void** out) {
    if (out == NULL) {
        return E_INVALIDARG;
    }
    if (IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IClassFactory)) {
        *out = iface;
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

/* The factory is static: it lives as long as the DLL. */
static ULONG STDMETHODCALLTYPE factory_add_ref(IClassFactory* iface) {
    (void)iface;
    return 2;
}

static ULONG STDMETHODCALLTYPE factory_release(IClassFactory* iface) {
    (void)iface;
    return 1;
}

static HRESULT STDMETHODCALLTYPE factory_create_instance(IClassFactory* iface, IUnknown* outer,
                                                         REFIID iid, void** out) {
    (void)iface;
    if (out == NULL) {
        return E_INVALIDARG;
    }
    *out = NULL;
    if (outer != NULL) {
        return CLASS_E_NOAGGREGATION;
    }
    return create_decoder(iid, out);
}

static HRESULT STDMETHODCALLTYPE factory_lock_server(IClassFactory* iface, BOOL lock) {
    (void)iface;
    if (lock) {
        InterlockedIncrement(&server_locks);
    } else {
        InterlockedDecrement(&server_locks);
    }
    return S_OK;
}

static const IClassFactoryVtbl factory_vtable = {
    factory_query_interface, factory_add_ref,     factory_release,
    factory_create_instance, factory_lock_server,
};
static IClassFactory factory = {(IClassFactoryVtbl*)&factory_vtable};

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        module_handle = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    if (out == NULL) {
        return E_INVALIDARG;
    }
    *out = NULL;
    if (!IsEqualCLSID(clsid, &CLSID_DazWicDecoder)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return IClassFactory_QueryInterface(&factory, iid, out);
}

STDAPI DllCanUnloadNow(void) {
    return live_objects == 0 && server_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer(void) {
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module_handle, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return E_FAIL;
    }
    return dazwic_register(path);
}

STDAPI DllUnregisterServer(void) {
    return dazwic_unregister();
}
