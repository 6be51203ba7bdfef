/* quantize_digests.h - the reduction's bytes as every platform must give
 * them: synthetic images, the options they are reduced with, and a digest of
 * each result (the palette and indices of the reduction, xor'd with those of
 * the next image mapped onto that palette, shifted left by one).
 *
 * One list, read by the quantizer's own test (tests/quantize_test.cpp: x86-64
 * natively and under qemu as older processors, arm64, s390x, Windows) and by
 * the WebAssembly check on the public API (web/tests/quantize_digests.c, run
 * by node). C99 and C++ alike; no allocation: the caller gives the pixels. */
#ifndef ORVX_QUANTIZE_DIGESTS_H
#define ORVX_QUANTIZE_DIGESTS_H

#include <stddef.h>
#include <stdint.h>

/* A fixed pseudo-random sequence (xorshift32), the same everywhere. */
static inline uint32_t digestRandomNext(uint32_t* state) {
    *state ^= *state << 13;
    *state ^= *state >> 17;
    *state ^= *state << 5;
    return *state;
}

static inline void digestSetPixel(uint8_t* rgba, uint32_t width, uint32_t x, uint32_t y, int r,
                                  int g, int b, int a) {
    uint8_t* p = rgba + ((size_t)y * width + x) * 4;
    p[0] = (uint8_t)r;
    p[1] = (uint8_t)g;
    p[2] = (uint8_t)b;
    p[3] = (uint8_t)a;
}

static inline int digestClamp(int v) {
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

/* Red across, green down, blue along the diagonal. */
static inline void digestGradient(uint8_t* rgba, uint32_t width, uint32_t height) {
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            digestSetPixel(rgba, width, x, y, (int)(x * 255 / (width - 1)),
                           (int)(y * 255 / (height - 1)),
                           (int)((x + y) * 255 / (width + height - 2)), 255);
        }
    }
}

/* Random colours; with alpha, a quarter of them clear and a quarter half. */
static inline void digestNoise(uint8_t* rgba, uint32_t width, uint32_t height, uint32_t seed,
                               int alpha) {
    uint32_t state = seed;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t v = digestRandomNext(&state);
            const int a = alpha ? (v >> 24 < 64 ? 0 : v >> 24 < 128 ? (int)(v >> 24) : 255) : 255;
            digestSetPixel(rgba, width, x, y, (int)(v & 0xFF), (int)(v >> 8 & 0xFF),
                           (int)(v >> 16 & 0xFF), a);
        }
    }
}

/* Smooth areas, edges and a little grain: a sky, a sun, a hill. */
static inline void digestPhotoLike(uint8_t* rgba, uint32_t width, uint32_t height, uint32_t seed) {
    uint32_t state = seed;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const int fx = (int)(x * 256 / width);
            const int fy = (int)(y * 256 / height);
            int r = 60 + fy / 3, g = 110 + fy / 4, b = 220 - fy / 5;
            const int dx = fx - 180, dy = fy - 70;
            if (dx * dx + dy * dy < 900) {
                r = 250, g = 220 - (dx * dx + dy * dy) / 10, b = 90;
            }
            const int hill = 170 + ((fx - 128) * (fx - 128)) / 400;
            if (fy > hill) {
                r = 40 + fx / 6, g = 120 + (fy - hill), b = 30 + fx / 10;
            }
            const int grain = (int)(digestRandomNext(&state) % 9U) - 4;
            digestSetPixel(rgba, width, x, y, digestClamp(r + grain), digestClamp(g + grain),
                           digestClamp(b + grain), 255);
        }
    }
}

/* The three images of the cases: their sizes, and each drawn into rgba
 * (4 x width x height bytes). */
enum { DIGEST_IMAGES = 3, DIGEST_MAX_PIXELS = 256 * 171 };
static const uint32_t DIGEST_IMAGE_SIZES[DIGEST_IMAGES][2] = {{211, 97}, {64, 48}, {256, 171}};

static inline void digestImage(int image, uint8_t* rgba) {
    const uint32_t width = DIGEST_IMAGE_SIZES[image][0];
    const uint32_t height = DIGEST_IMAGE_SIZES[image][1];
    if (image == 0) {
        digestGradient(rgba, width, height);
    } else if (image == 1) {
        digestNoise(rgba, width, height, 77, 1);
    } else {
        digestPhotoLike(rgba, width, height, 5);
    }
}

/* A case: image reduced to colors (dither 0 or 1, transparent index or -1,
 * background 0xRRGGBB), then image + 1 (mod 3) mapped onto that palette. */
typedef struct DigestCase {
    const char* name;
    int image;
    int colors;
    int dither;
    int transparent;
    uint32_t background;
    uint64_t digest;
} DigestCase;

static const DigestCase DIGEST_CASES[] = {
    {"gradient 256", 0, 256, 0, -1, 0, 0x1967569b1f9687ccULL},
    {"gradient 16 dither", 0, 16, 1, -1, 0, 0x2108a5953c1c055aULL},
    {"noise 64 t 0", 1, 64, 0, 0, 0xFFFFFF, 0xf9991f1f3980d73aULL},
    {"noise 4 dither", 1, 4, 1, -1, 0x336699, 0xd9d6bbaa7f0d6141ULL},
    {"photo 256 dither", 2, 256, 1, -1, 0, 0x7b28632a12ee9175ULL},
    {"photo 64", 2, 64, 0, -1, 0, 0xe9ffb965e32f8d8fULL},
    {"photo 16 t 7", 2, 16, 1, 7, 0x00FF00, 0xc812255aa6105f1eULL},
    {"photo 4", 2, 4, 0, -1, 0, 0xae7c059604f03fe5ULL},
};
enum { DIGEST_CASE_COUNT = sizeof DIGEST_CASES / sizeof DIGEST_CASES[0] };

/* FNV-1a over entries - 1, the palette's 1024 bytes and the indices. */
static inline uint64_t digestOf(int entries, const uint8_t* palette, const uint8_t* indices,
                                size_t count) {
    uint64_t h = 0xcbf29ce484222325ULL;
    h = (h ^ (uint8_t)(entries - 1)) * 0x100000001b3ULL;
    for (size_t i = 0; i < 1024; ++i) {
        h = (h ^ palette[i]) * 0x100000001b3ULL;
    }
    for (size_t i = 0; i < count; ++i) {
        h = (h ^ indices[i]) * 0x100000001b3ULL;
    }
    return h;
}

#endif /* ORVX_QUANTIZE_DIGESTS_H */
