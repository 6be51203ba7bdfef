/* registry.c - what regsvr32 dazwic.dll writes: the codec's rows, which WIC
 * reads to find it (by extension, MIME type or the file's first bytes), and
 * the file type's, which give Explorer a type name, an icon and the system's
 * photo thumbnail provider for .daz. The installer writes the same rows
 * (orvx.wxs); keep both alike. */
#include "dazwic.h"

#include <windows.h>

#include <olectl.h>

#define DECODER L"{FC40E1C5-7666-4662-9D9B-394F3EB65D5A}"
#define DECODER_KEY L"CLSID\\" DECODER
/* WIC's category of decoders. */
#define DECODER_CATEGORY L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\" DECODER
#define PROGID L"orvx.dazimage"
#define NAME L"daz image decoder"

enum { TEXT_VALUE, NUMBER_VALUE, BYTES_VALUE, DLL_PATH, DLL_ICON, KEY_ONLY };

typedef struct {
    const WCHAR* key;
    const WCHAR* name; /* NULL: the key's default value */
    int kind;
    const WCHAR* text;
    DWORD number; /* NUMBER_VALUE; BYTES_VALUE: the count of bytes */
    const BYTE* bytes;
} Row;

static const BYTE magic[] = {'E', 'W'}; /* as daz_guess_format tells a daz image */
static const BYTE magic_mask[] = {0xff, 0xff};

static const Row rows[] = {
    {DECODER_KEY, NULL, TEXT_VALUE, NAME, 0, NULL},
    {DECODER_KEY, L"FriendlyName", TEXT_VALUE, NAME, 0, NULL},
    {DECODER_KEY, L"Author", TEXT_VALUE, L"Orvanti", 0, NULL},
    {DECODER_KEY, L"Vendor", TEXT_VALUE, L"{A6822081-08FB-456D-B7E3-745965FCEB2A}", 0, NULL},
    {DECODER_KEY, L"ContainerFormat", TEXT_VALUE, L"{CFF6CFBB-D53B-4DCA-B7C0-E256E343263D}", 0,
     NULL},
    {DECODER_KEY, L"Version", TEXT_VALUE, DAZWIC_VERSION, 0, NULL},
    {DECODER_KEY, L"SpecVersion", TEXT_VALUE, L"1.0.0.0", 0, NULL},
    {DECODER_KEY, L"ColorManagementVersion", TEXT_VALUE, L"1.0.0.0", 0, NULL},
    {DECODER_KEY, L"FileExtensions", TEXT_VALUE, L".daz", 0, NULL},
    {DECODER_KEY, L"MimeTypes", TEXT_VALUE, L"image/x-daz", 0, NULL},
    {DECODER_KEY, L"SupportAnimation", NUMBER_VALUE, NULL, 0, NULL},
    {DECODER_KEY, L"SupportChromakey", NUMBER_VALUE, NULL, 0, NULL},
    {DECODER_KEY, L"SupportLossless", NUMBER_VALUE, NULL, 1, NULL},
    {DECODER_KEY, L"SupportMultiframe", NUMBER_VALUE, NULL, 0, NULL},
    {DECODER_KEY L"\\InprocServer32", NULL, DLL_PATH, NULL, 0, NULL},
    {DECODER_KEY L"\\InprocServer32", L"ThreadingModel", TEXT_VALUE, L"Both", 0, NULL},
    {DECODER_KEY L"\\Formats\\{6FDDC324-4E03-4BFE-B185-3D77768DC903}", NULL, KEY_ONLY, NULL, 0,
     NULL}, /* 4bppIndexed */
    {DECODER_KEY L"\\Formats\\{6FDDC324-4E03-4BFE-B185-3D77768DC904}", NULL, KEY_ONLY, NULL, 0,
     NULL}, /* 8bppIndexed */
    {DECODER_KEY L"\\Patterns\\0", L"Position", NUMBER_VALUE, NULL, 0, NULL},
    {DECODER_KEY L"\\Patterns\\0", L"Length", NUMBER_VALUE, NULL, sizeof magic, NULL},
    {DECODER_KEY L"\\Patterns\\0", L"Pattern", BYTES_VALUE, NULL, sizeof magic, magic},
    {DECODER_KEY L"\\Patterns\\0", L"Mask", BYTES_VALUE, NULL, sizeof magic_mask, magic_mask},
    {DECODER_CATEGORY, L"CLSID", TEXT_VALUE, DECODER, 0, NULL},
    {DECODER_CATEGORY, L"FriendlyName", TEXT_VALUE, NAME, 0, NULL},
    /* The file type. */
    {L".daz", NULL, TEXT_VALUE, PROGID, 0, NULL},
    {L".daz", L"Content Type", TEXT_VALUE, L"image/x-daz", 0, NULL},
    {L".daz", L"PerceivedType", TEXT_VALUE, L"image", 0, NULL},
    {L".daz\\OpenWithProgids", PROGID, TEXT_VALUE, L"", 0, NULL},
    /* Photos (its package's ProgID) and Paint, where they are installed. */
    {L".daz\\OpenWithProgids", L"AppX43hnxtbyyps62jhe9sqpdzxn1790zetc", TEXT_VALUE, L"", 0, NULL},
    {L".daz\\OpenWithList\\mspaint.exe", NULL, KEY_ONLY, NULL, 0, NULL},
    /* Thumbnails from the system's photo thumbnail provider, through WIC. */
    {L".daz\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", NULL, TEXT_VALUE,
     L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}", 0, NULL},
    {PROGID, NULL, TEXT_VALUE, L"daz image", 0, NULL},
    {PROGID L"\\DefaultIcon", NULL, DLL_ICON, NULL, 0, NULL},
    {L"MIME\\Database\\Content Type\\image/x-daz", L"Extension", TEXT_VALUE, L".daz", 0, NULL},
};

/* Whole keys removed on unregistering, the deepest first. */
static const WCHAR* const owned_keys[] = {
    DECODER_CATEGORY, DECODER_KEY, L".daz", PROGID, L"MIME\\Database\\Content Type\\image/x-daz",
};

static HRESULT write_row(const Row* row, const WCHAR* dll_path) {
    HKEY key;
    LONG status =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, row->key, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    WCHAR icon[MAX_PATH + 3];
    const WCHAR* text = row->text;
    if (row->kind == DLL_PATH) {
        text = dll_path;
    } else if (row->kind == DLL_ICON) {
        lstrcpynW(icon, dll_path, MAX_PATH);
        lstrcatW(icon, L",0");
        text = icon;
    }
    switch (row->kind) {
    case KEY_ONLY:
        break;
    case NUMBER_VALUE:
        status = RegSetValueExW(key, row->name, 0, REG_DWORD, (const BYTE*)&row->number,
                                sizeof row->number);
        break;
    case BYTES_VALUE:
        status = RegSetValueExW(key, row->name, 0, REG_BINARY, row->bytes, row->number);
        break;
    default:
        status = RegSetValueExW(key, row->name, 0, REG_SZ, (const BYTE*)text,
                                (DWORD)(sizeof(WCHAR) * ((size_t)lstrlenW(text) + 1)));
        break;
    }
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(status);
}

HRESULT dazwic_register(const WCHAR* dll_path) {
    for (size_t at = 0; at < sizeof rows / sizeof rows[0]; ++at) {
        HRESULT result = write_row(&rows[at], dll_path);
        if (FAILED(result)) {
            dazwic_unregister();
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
}

HRESULT dazwic_unregister(void) {
    HRESULT result = S_OK;
    for (size_t at = 0; at < sizeof owned_keys / sizeof owned_keys[0]; ++at) {
        LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, owned_keys[at]);
        if (status == ERROR_SUCCESS) {
            status = RegDeleteKeyW(HKEY_CLASSES_ROOT, owned_keys[at]);
        }
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            result = SELFREG_E_CLASS;
        }
    }
    return result;
}
