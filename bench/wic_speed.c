/* wic_speed.c - a daz file and a bitmap of the same image, decoded through
 * the same WIC (CreateDecoderFromFilename, GetFrame, CopyPixels of the whole
 * frame), in pairs whose order alternates: the median of each one's times
 * and of the per-pair ratios, for the frame's own format and for 32bppBGRA
 * through WICConvertBitmapSource. bench/wic_speed.sh makes the files,
 * registers the codec in a Wine prefix of its own and runs this.
 *
 * Usage: wic_speed.exe FILE.daz FILE.bmp PAIRS
 */
#define COBJMACROS
#include <windows.h>

#include <objbase.h>
#include <wincodec.h>

#include <stdio.h>
#include <stdlib.h>

static double seconds(void) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

/* One whole decode; the time, or a negative number on failure. */
static double decode(IWICImagingFactory* factory, const WCHAR* path, int bgra, BYTE* buffer,
                     UINT size) {
    double start = seconds();
    IWICBitmapDecoder* decoder = NULL;
    IWICBitmapFrameDecode* frame = NULL;
    IWICBitmapSource* source = NULL;
    HRESULT result = IWICImagingFactory_CreateDecoderFromFilename(
        factory, path, NULL, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(result)) {
        result = IWICBitmapDecoder_GetFrame(decoder, 0, &frame);
    }
    if (SUCCEEDED(result)) {
        if (bgra) {
            result = WICConvertBitmapSource(&GUID_WICPixelFormat32bppBGRA, (IWICBitmapSource*)frame,
                                            &source);
        } else {
            source = (IWICBitmapSource*)frame;
            IWICBitmapSource_AddRef(source);
        }
    }
    UINT width = 0, height = 0;
    if (SUCCEEDED(result)) {
        result = IWICBitmapSource_GetSize(source, &width, &height);
    }
    if (SUCCEEDED(result)) {
        UINT stride = bgra ? 4 * width : width;
        result = (UINT64)stride * height <= size
                     ? IWICBitmapSource_CopyPixels(source, NULL, stride, size, buffer)
                     : E_OUTOFMEMORY;
    }
    if (source != NULL) {
        IWICBitmapSource_Release(source);
    }
    if (frame != NULL) {
        IWICBitmapFrameDecode_Release(frame);
    }
    if (decoder != NULL) {
        IWICBitmapDecoder_Release(decoder);
    }
    if (FAILED(result)) {
        printf("%ls: 0x%08lx\n", path, (unsigned long)result);
        return -1;
    }
    return seconds() - start;
}

static int by_value(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static double median(double* values, int count) {
    qsort(values, (size_t)count, sizeof *values, by_value);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

int wmain(int argc, WCHAR** argv) {
    if (argc != 4) {
        printf("usage: wic_speed FILE.daz FILE.bmp PAIRS\n");
        return 2;
    }
    int pairs = _wtoi(argv[3]);
    if (pairs < 1 || pairs > 1000) {
        return 2;
    }
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    IWICImagingFactory* factory = NULL;
    if (FAILED(CoCreateInstance(&CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER,
                                &IID_IWICImagingFactory, (void**)&factory))) {
        return 1;
    }
    UINT size = 4096u * 4096u * 4u;
    BYTE* buffer = malloc(size);
    double* times = malloc(sizeof(double) * 3 * (size_t)pairs);
    if (buffer == NULL || times == NULL) {
        return 1;
    }
    static const char* const names[] = {"indexed (the frame's own format)", "32bppBGRA"};
    for (int bgra = 0; bgra < 2; ++bgra) {
        double* daz = times;
        double* bmp = times + pairs;
        double* ratio = times + 2 * pairs;
        decode(factory, argv[1], bgra, buffer, size); /* each once, untimed */
        decode(factory, argv[2], bgra, buffer, size);
        for (int pair = 0; pair < pairs; ++pair) {
            if (pair % 2 == 0) {
                daz[pair] = decode(factory, argv[1], bgra, buffer, size);
                bmp[pair] = decode(factory, argv[2], bgra, buffer, size);
            } else {
                bmp[pair] = decode(factory, argv[2], bgra, buffer, size);
                daz[pair] = decode(factory, argv[1], bgra, buffer, size);
            }
            if (daz[pair] < 0 || bmp[pair] < 0) {
                return 1;
            }
            ratio[pair] = daz[pair] / bmp[pair];
        }
        printf("%s, %d pairs: daz %.1f ms, BMP %.1f ms, median daz / BMP %.2f\n", names[bgra],
               pairs, 1000 * median(daz, pairs), 1000 * median(bmp, pairs), median(ratio, pairs));
    }
    IWICImagingFactory_Release(factory);
    CoUninitialize();
    return 0;
}
