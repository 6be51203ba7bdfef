/* wic_client.c - decodes daz files through WIC, as any Windows program does
 * (IWICImagingFactory::CreateDecoderFromFilename), with the codec registered
 * by regsvr32 or the installer, and checks what WIC gives against libdaz's
 * own decode: the pixel format, the palette (stored entries, then the
 * undefined colour as far as the indices reach), the indices (whole and a
 * rectangle, with a stride), the conversion to 32bppBGRA and the metadata.
 * The files are made here, one table of them, hostile ones included, which
 * must fail with an HRESULT. Then the file type's registry rows.
 *
 * Usage: wic_client.exe FOLDER   (the files are written there)
 * Exit status 0 when every check passed.
 */
#define COBJMACROS
#include <initguid.h>

#include <windows.h>

#include <objbase.h>
#include <wincodec.h>

#include <daz/daz.h>

#include "dazwic.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures;

#define CHECK(condition, ...)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ++failures;                                                                            \
            printf("FAIL %s:%d: ", file_name, __LINE__);                                           \
            printf(__VA_ARGS__);                                                                   \
            printf("\n");                                                                          \
        }                                                                                          \
    } while (0)

typedef struct {
    const char* name;
    uint32_t width;
    int32_t height; /* negative: rows stored top-down */
    int bits;
    int entries; /* palette entries made */
    int kept;    /* of them written (0: all) */
    int highest; /* the pixels' indices go up to this one */
    uint16_t key;
    long cut;     /* bytes taken off the end */
    int patch_at; /* a 16-bit header field overwritten (0: none) */
    int patch;
    int decodes; /* 0: WIC must fail */
} Case;

static const Case cases[] = {
    {"eight.daz", 37, 5, 8, 256, 200, 255, 0x1f2e, 0, 0, 0, 1},
    {"eight-all.daz", 300, 200, 8, 256, 0, 255, 0, 0, 0, 0, 1},
    {"eight-three.daz", 9, 4, 8, 3, 0, 2, 0xffff, 0, 0, 0, 1},
    {"four.daz", 13, 7, 4, 16, 10, 15, 0x0001, 0, 0, 0, 1},
    {"four-topdown.daz", 13, -7, 4, 16, 10, 15, 0x8000, 0, 0, 0, 1},
    {"eight-topdown.daz", 37, -6, 8, 256, 256, 255, 0x1234, 0, 0, 0, 1},
    {"four-keyed-no-extension", 21, 9, 4, 16, 0, 15, 0xbeef, 0, 0, 0, 1},
    {"eight-no-extension", 16, 3, 8, 256, 100, 99, 0x00ff, 0, 0, 0, 1},
    {"eight-cut.daz", 37, 5, 8, 256, 200, 255, 0x1f2e, 50, 0, 0, 1},
    {"four-topdown-cut.daz", 13, -7, 4, 16, 10, 15, 0x4321, 9, 0, 0, 1},
    {"four-trailing.daz", 13, 7, 4, 16, 16, 15, 0x4321, -17, 0, 0, 1},
    /* Hostile: the library's own errors, as failing HRESULTs. */
    {"bits5.daz", 8, 2, 8, 4, 0, 3, 0, 0, 8, 5, 0},
    {"colors300.daz", 8, 2, 8, 4, 0, 3, 0, 0, 10, 300, 0},
    {"colors-negative.daz", 8, 2, 8, 4, 0, 3, 0, 0, 10, 0xffff, 0},
    {"four-with-17.daz", 8, 2, 4, 16, 0, 3, 0, 0, 10, 17, 0},
    {"no-whole-row.daz", 64, 2, 8, 4, 0, 3, 0, 0, 4, 1000, 0},
    {"zero-width.daz", 8, 2, 8, 4, 0, 3, 0, 0, 4, 0, 0},
    {"palette-cut.daz", 8, 2, 8, 200, 0, 3, 0, 700, 0, 0, 0},
    {"header-only.daz", 8, 2, 8, 4, 0, 3, 0, 0, 0, 0, 0},
    {"not-daz.daz", 8, 2, 8, 4, 0, 3, 0, 0, 0, 0x5845 /* "EX" */, 0},
};

static const char* file_name = "";

/* A small deterministic generator, so that every run makes the same files. */
static uint32_t next_random(uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

/* The file's bytes, as daz_encode writes them, then cut or patched. */
static uint8_t* make_file(const Case* c, size_t* size) {
    uint32_t rows = (uint32_t)(c->height < 0 ? -c->height : c->height);
    uint32_t state = c->width * 31u + rows;
    uint8_t palette[DAZ_PALETTE_BYTES];
    uint8_t* indices = malloc((size_t)c->width * rows);
    for (size_t at = 0; at < sizeof palette; ++at) {
        palette[at] = (uint8_t)next_random(&state);
    }
    for (size_t at = 0; at < (size_t)c->width * rows; ++at) {
        indices[at] = (uint8_t)(next_random(&state) % (uint32_t)(c->highest + 1));
    }
    indices[0] = (uint8_t)c->highest;
    size_t written = 0;
    daz_encode(indices, c->width, c->width, c->height, c->bits, palette, c->entries, c->kept,
               c->key, NULL, 0, &written, NULL);
    size_t capacity = written + 64;
    uint8_t* data = calloc(1, capacity);
    int status = daz_encode(indices, c->width, c->width, c->height, c->bits, palette, c->entries,
                            c->kept, c->key, data, capacity, &written, NULL);
    free(indices);
    if (status != DAZ_OK) {
        printf("FAIL %s: daz_encode: %s\n", c->name, daz_strerror(status));
        exit(1);
    }
    if (c->cut < 0) {
        written += (size_t)-c->cut; /* zeros after the image */
    } else {
        written -= (size_t)c->cut;
    }
    if (strcmp(c->name, "header-only.daz") == 0) {
        written = DAZ_HEADER_SIZE;
    }
    if (c->patch_at > 0) {
        data[c->patch_at] = (uint8_t)c->patch;
        data[c->patch_at + 1] = (uint8_t)(c->patch >> 8);
    } else if (c->patch != 0) {
        data[0] = (uint8_t)c->patch;
        data[1] = (uint8_t)(c->patch >> 8);
    }
    *size = written;
    return data;
}

static void write_file(const WCHAR* path, const uint8_t* data, size_t size) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD done = 0;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, data, (DWORD)size, &done, NULL) ||
        done != size) {
        printf("FAIL cannot write %ls\n", path);
        exit(1);
    }
    CloseHandle(file);
}

/* The frame's indices in rect, unpacked, against libdaz's. */
static void check_rect(IWICBitmapFrameDecode* frame, const daz_info* info, const uint8_t* indices,
                       WICRect rect) {
    UINT row_bytes = ((UINT)rect.Width * (UINT)info->bits + 7) / 8;
    UINT stride = row_bytes + 3;
    UINT size = stride * (UINT)(rect.Height - 1) + row_bytes;
    uint8_t* pixels = malloc(size);
    HRESULT result = IWICBitmapFrameDecode_CopyPixels(frame, &rect, stride, size, pixels);
    CHECK(SUCCEEDED(result), "CopyPixels (%d,%d %dx%d): 0x%08lx", rect.X, rect.Y, rect.Width,
          rect.Height, (unsigned long)result);
    int wrong = 0;
    for (INT y = 0; SUCCEEDED(result) && y < rect.Height; ++y) {
        for (INT x = 0; x < rect.Width; ++x) {
            const uint8_t* row = pixels + (size_t)stride * (size_t)y;
            int got = info->bits == 8 ? row[x] : (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
            int expected = indices[(size_t)(rect.Y + y) * info->width + (size_t)(rect.X + x)];
            wrong += got != expected;
        }
    }
    CHECK(wrong == 0, "%d indices differ in (%d,%d %dx%d)", wrong, rect.X, rect.Y, rect.Width,
          rect.Height);
    free(pixels);
}

static void check_decodes(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, const Case* c,
                          const uint8_t* data, size_t size) {
    daz_info info;
    size_t indices_size = 0, rgba_size = 0;
    if (daz_inspect(data, size, &info) != DAZ_OK ||
        daz_decoded_size(&info, NULL, &indices_size, &rgba_size) != DAZ_OK) {
        CHECK(0, "libdaz refuses the file");
        return;
    }
    uint8_t* indices = malloc(indices_size);
    uint8_t* rgba = malloc(rgba_size);
    uint8_t palette[DAZ_PALETTE_BYTES];
    daz_decode(data, size, NULL, &info, palette, indices, indices_size);
    daz_decode_rgba(data, size, NULL, NULL, rgba, rgba_size);

    GUID container;
    IWICBitmapDecoder_GetContainerFormat(decoder, &container);
    CHECK(IsEqualGUID(&container, &GUID_ContainerFormatDaz), "container format");
    IWICBitmapDecoderInfo* decoder_info = NULL;
    CLSID decoder_class = {0, 0, 0, {0}};
    if (SUCCEEDED(IWICBitmapDecoder_GetDecoderInfo(decoder, &decoder_info))) {
        IWICBitmapDecoderInfo_GetCLSID(decoder_info, &decoder_class);
        IWICBitmapDecoderInfo_Release(decoder_info);
    }
    CHECK(IsEqualCLSID(&decoder_class, &CLSID_DazWicDecoder), "GetDecoderInfo");
    IWICBitmapFrameDecode* frame = NULL;
    HRESULT result = IWICBitmapDecoder_GetFrame(decoder, 0, &frame);
    CHECK(SUCCEEDED(result), "GetFrame: 0x%08lx", (unsigned long)result);
    if (FAILED(result)) {
        return;
    }
    UINT width = 0, height = 0;
    IWICBitmapFrameDecode_GetSize(frame, &width, &height);
    CHECK(width == info.width && height == info.rows, "size %ux%u, libdaz %ux%u", width, height,
          info.width, info.rows);
    WICPixelFormatGUID format;
    IWICBitmapFrameDecode_GetPixelFormat(frame, &format);
    CHECK(IsEqualGUID(&format, c->bits == 4 ? &GUID_WICPixelFormat4bppIndexed
                                            : &GUID_WICPixelFormat8bppIndexed),
          "pixel format");

    /* The palette: stored entries, alpha 255, then magenta up to the highest index. */
    int highest = 0;
    for (size_t at = 0; at < indices_size; ++at) {
        highest = indices[at] > highest ? indices[at] : highest;
    }
    UINT expected_count = (UINT)(info.colors > highest + 1 ? info.colors : highest + 1);
    IWICPalette* wic_palette = NULL;
    IWICImagingFactory_CreatePalette(factory, &wic_palette);
    result = IWICBitmapFrameDecode_CopyPalette(frame, wic_palette);
    UINT count = 0;
    WICColor colours[256];
    IWICPalette_GetColors(wic_palette, 256, colours, &count);
    CHECK(SUCCEEDED(result) && count == expected_count, "palette of %u entries, expected %u", count,
          expected_count);
    for (UINT entry = 0; entry < count && entry < expected_count; ++entry) {
        const uint8_t* stored = palette + 4 * entry;
        WICColor expected = (int)entry < info.colors ? 0xff000000u | (WICColor)stored[0] << 16 |
                                                           (WICColor)stored[1] << 8 | stored[2]
                                                     : 0xffff00ffu;
        CHECK(colours[entry] == expected, "palette entry %u: %08x, expected %08x", entry,
              colours[entry], expected);
    }
    IWICPalette_Release(wic_palette);

    WICRect whole = {0, 0, (INT)info.width, (INT)info.rows};
    check_rect(frame, &info, indices, whole);
    WICRect inside = {1, info.rows > 2 ? 1 : 0, (INT)info.width - 2, (INT)info.rows > 2 ? 2 : 1};
    check_rect(frame, &info, indices, inside);
    WICRect outside = {1, 0, (INT)info.width, 1};
    uint8_t small[4];
    result = IWICBitmapFrameDecode_CopyPixels(frame, &outside, info.width, 1 << 20, small);
    CHECK(result == E_INVALIDARG, "a rectangle past the image: 0x%08lx", (unsigned long)result);
    result = IWICBitmapFrameDecode_CopyPixels(frame, NULL, info.width, sizeof small, small);
    CHECK(result == WINCODEC_ERR_INSUFFICIENTBUFFER, "a buffer too small: 0x%08lx",
          (unsigned long)result);

    /* 32bppBGRA through WIC's converter: daz_decode_rgba's colours. */
    IWICBitmapSource* bgra = NULL;
    result = WICConvertBitmapSource(&GUID_WICPixelFormat32bppBGRA, (IWICBitmapSource*)frame, &bgra);
    CHECK(SUCCEEDED(result), "WICConvertBitmapSource: 0x%08lx", (unsigned long)result);
    if (SUCCEEDED(result)) {
        uint8_t* pixels = malloc(rgba_size);
        result = IWICBitmapSource_CopyPixels(bgra, NULL, 4 * info.width, (UINT)rgba_size, pixels);
        int wrong = 0;
        for (size_t at = 0; SUCCEEDED(result) && at < rgba_size; at += 4) {
            wrong += pixels[at] != rgba[at + 2] || pixels[at + 1] != rgba[at + 1] ||
                     pixels[at + 2] != rgba[at] || pixels[at + 3] != rgba[at + 3];
        }
        CHECK(SUCCEEDED(result) && wrong == 0, "BGRA: 0x%08lx, %d pixels differ",
              (unsigned long)result, wrong);
        free(pixels);
        IWICBitmapSource_Release(bgra);
    }

    /* A thumbnail's route: scaled down by WIC's scaler, as the system's
     * photo thumbnail provider does it. */
    IWICBitmapScaler* scaler = NULL;
    result = IWICImagingFactory_CreateBitmapScaler(factory, &scaler);
    if (SUCCEEDED(result)) {
        uint8_t thumbnail[8 * 8 * 4];
        result = IWICBitmapScaler_Initialize(scaler, (IWICBitmapSource*)frame, 8, 8,
                                             WICBitmapInterpolationModeFant);
        if (SUCCEEDED(result)) {
            result = IWICBitmapScaler_CopyPixels(scaler, NULL, 8 * 4, sizeof thumbnail, thumbnail);
        }
        IWICBitmapScaler_Release(scaler);
    }
    CHECK(SUCCEEDED(result), "scaled to 8 x 8: 0x%08lx", (unsigned long)result);

    /* The metadata: "/key" and "/colors". */
    IWICMetadataQueryReader* reader = NULL;
    result = IWICBitmapFrameDecode_GetMetadataQueryReader(frame, &reader);
    CHECK(SUCCEEDED(result), "GetMetadataQueryReader: 0x%08lx", (unsigned long)result);
    if (SUCCEEDED(result)) {
        PROPVARIANT value;
        WCHAR expected[8];
        swprintf(expected, 8, L"%04x", info.key);
        PropVariantInit(&value);
        result = IWICMetadataQueryReader_GetMetadataByName(reader, L"/key", &value);
        CHECK(SUCCEEDED(result) && value.vt == VT_LPWSTR && wcscmp(value.pwszVal, expected) == 0,
              "/key");
        PropVariantClear(&value);
        result = IWICMetadataQueryReader_GetMetadataByName(reader, L"/colors", &value);
        CHECK(SUCCEEDED(result) && value.vt == VT_UI2 && value.uiVal == info.colors, "/colors");
        result = IWICMetadataQueryReader_GetMetadataByName(reader, L"/other", &value);
        CHECK(result == WINCODEC_ERR_PROPERTYNOTFOUND, "/other: 0x%08lx", (unsigned long)result);
        IWICMetadataQueryReader_Release(reader);
    }
    IWICBitmapFrameDecode_Release(frame);
    free(indices);
    free(rgba);
}

/* QueryCapability, which Windows' WIC asks and Wine's doesn't: every image
 * of a file that decodes, none of one that doesn't, and the stream left
 * where it stood. */
static void check_capability(IWICImagingFactory* factory, const Case* c, const uint8_t* data,
                             size_t size) {
    IWICBitmapDecoder* decoder = NULL;
    IWICStream* stream = NULL;
    DWORD capability = 0xdead;
    LARGE_INTEGER at = {{3, 0}};
    ULARGE_INTEGER after = {{0, 0}};
    HRESULT result = CoCreateInstance(&CLSID_DazWicDecoder, NULL, CLSCTX_INPROC_SERVER,
                                      &IID_IWICBitmapDecoder, (void**)&decoder);
    if (SUCCEEDED(result)) {
        result = IWICImagingFactory_CreateStream(factory, &stream);
    }
    if (SUCCEEDED(result)) {
        result = IWICStream_InitializeFromMemory(stream, (BYTE*)data, (DWORD)size);
    }
    if (SUCCEEDED(result)) {
        IWICStream_Seek(stream, at, STREAM_SEEK_SET, NULL);
        result = IWICBitmapDecoder_QueryCapability(decoder, (IStream*)stream, &capability);
        at.QuadPart = 0;
        IWICStream_Seek(stream, at, STREAM_SEEK_CUR, &after);
    }
    CHECK(SUCCEEDED(result) && after.QuadPart == 3, "QueryCapability: 0x%08lx, stream at %llu",
          (unsigned long)result, (unsigned long long)after.QuadPart);
    CHECK(capability == (c->decodes ? (DWORD)WICBitmapDecoderCapabilityCanDecodeAllImages : 0),
          "capability %lx", (unsigned long)capability);
    if (stream != NULL) {
        IWICStream_Release(stream);
    }
    if (decoder != NULL) {
        IWICBitmapDecoder_Release(decoder);
    }
}

/* The codec as WIC lists it, and the file type's rows Explorer reads. */
static void check_registration(IWICImagingFactory* factory) {
    file_name = "registration";
    IWICComponentInfo* component = NULL;
    IWICBitmapDecoderInfo* info = NULL;
    HRESULT result =
        IWICImagingFactory_CreateComponentInfo(factory, &CLSID_DazWicDecoder, &component);
    if (SUCCEEDED(result)) {
        result =
            IWICComponentInfo_QueryInterface(component, &IID_IWICBitmapDecoderInfo, (void**)&info);
        IWICComponentInfo_Release(component);
    }
    CHECK(SUCCEEDED(result), "the decoder's info: 0x%08lx", (unsigned long)result);
    if (SUCCEEDED(result)) {
        WCHAR text[64];
        UINT length = 0;
        IWICBitmapDecoderInfo_GetFileExtensions(info, 64, text, &length);
        CHECK(wcscmp(text, L".daz") == 0, "extensions %ls", text);
        IWICBitmapDecoderInfo_GetMimeTypes(info, 64, text, &length);
        CHECK(wcscmp(text, L"image/x-daz") == 0, "MIME types %ls", text);
        IWICBitmapDecoderInfo_Release(info);
    }
    static const WCHAR* const rows[][3] = {
        {L".daz", L"", L"orvx.dazimage"},
        {L".daz", L"PerceivedType", L"image"},
        {L".daz", L"Content Type", L"image/x-daz"},
        {L".daz\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", L"",
         L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}"},
        {L"orvx.dazimage", L"", L"daz image"},
        {L"CLSID\\{FC40E1C5-7666-4662-9D9B-394F3EB65D5A}\\InprocServer32", L"ThreadingModel",
         L"Both"},
    };
    for (size_t at = 0; at < sizeof rows / sizeof rows[0]; ++at) {
        WCHAR value[128] = L"";
        DWORD size = sizeof value;
        LONG status =
            RegGetValueW(HKEY_CLASSES_ROOT, rows[at][0], rows[at][1][0] ? rows[at][1] : NULL,
                         RRF_RT_REG_SZ, NULL, value, &size);
        CHECK(status == ERROR_SUCCESS && wcscmp(value, rows[at][2]) == 0, "HKCR\\%ls %ls: '%ls'",
              rows[at][0], rows[at][1], value);
    }
    WCHAR icon[MAX_PATH] = L"";
    DWORD size = sizeof icon;
    RegGetValueW(HKEY_CLASSES_ROOT, L"orvx.dazimage\\DefaultIcon", NULL, RRF_RT_REG_SZ, NULL, icon,
                 &size);
    WCHAR* comma = wcsrchr(icon, L',');
    if (comma != NULL) {
        *comma = L'\0';
    }
    CHECK(comma != NULL && ExtractIconExW(icon, -1, NULL, NULL, 0) > 0, "icon '%ls'", icon);
}

int wmain(int argc, WCHAR** argv) {
    if (argc != 2) {
        printf("usage: wic_client FOLDER\n");
        return 2;
    }
    /* A multithreaded client: it finds only a codec registered as Both. */
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    IWICImagingFactory* factory = NULL;
    HRESULT result = CoCreateInstance(&CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER,
                                      &IID_IWICImagingFactory, (void**)&factory);
    if (FAILED(result)) {
        printf("FAIL no WIC factory: 0x%08lx\n", (unsigned long)result);
        return 1;
    }
    int decoded = 0, refused = 0;
    for (size_t at = 0; at < sizeof cases / sizeof cases[0]; ++at) {
        const Case* c = &cases[at];
        file_name = c->name;
        size_t size = 0;
        uint8_t* data = make_file(c, &size);
        WCHAR path[MAX_PATH];
        swprintf(path, MAX_PATH, L"%ls\\%hs", argv[1], c->name);
        write_file(path, data, size);
        IWICBitmapDecoder* decoder = NULL;
        result = IWICImagingFactory_CreateDecoderFromFilename(
            factory, path, NULL, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
        if (c->decodes) {
            CHECK(SUCCEEDED(result), "CreateDecoderFromFilename: 0x%08lx", (unsigned long)result);
            if (SUCCEEDED(result)) {
                check_decodes(factory, decoder, c, data, size);
                ++decoded;
            }
            /* The same from a stream in memory, as Explorer hands a file over. */
            IWICStream* stream = NULL;
            IWICBitmapDecoder* from_stream = NULL;
            result = IWICImagingFactory_CreateStream(factory, &stream);
            if (SUCCEEDED(result)) {
                result = IWICStream_InitializeFromMemory(stream, data, (DWORD)size);
            }
            if (SUCCEEDED(result)) {
                result = IWICImagingFactory_CreateDecoderFromStream(
                    factory, (IStream*)stream, NULL, WICDecodeMetadataCacheOnDemand, &from_stream);
            }
            CHECK(SUCCEEDED(result), "CreateDecoderFromStream: 0x%08lx", (unsigned long)result);
            if (SUCCEEDED(result)) {
                check_decodes(factory, from_stream, c, data, size);
                IWICBitmapDecoder_Release(from_stream);
            }
            if (stream != NULL) {
                IWICStream_Release(stream);
            }
        } else {
            IWICBitmapFrameDecode* frame = NULL;
            if (SUCCEEDED(result)) { /* then the frame's pixels must fail */
                uint8_t pixels[64];
                result = IWICBitmapDecoder_GetFrame(decoder, 0, &frame);
                if (SUCCEEDED(result)) {
                    result =
                        IWICBitmapFrameDecode_CopyPixels(frame, NULL, 8, sizeof pixels, pixels);
                    IWICBitmapFrameDecode_Release(frame);
                }
            }
            CHECK(FAILED(result), "decoded");
            refused += FAILED(result);
        }
        if (decoder != NULL) {
            IWICBitmapDecoder_Release(decoder);
        }
        check_capability(factory, c, data, size);
        free(data);
    }
    check_registration(factory);
    IWICImagingFactory_Release(factory);
    CoUninitialize();
    printf("%d files decoded, %d refused, %d failures\n", decoded, refused, failures);
    return failures == 0 ? 0 : 1;
}
