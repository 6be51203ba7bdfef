/* The reduction's bytes through the public API (daz_quantize, daz_remap)
 * against the digests the quantizer's own test keeps (quantize_digests.h):
 * built natively, for each cross target, and for WebAssembly (run by node),
 * so that every platform is held to the same list. Prints a line a case;
 * exit status 1 when one differs. */
#include "quantize_digests.h"
#include "daz/daz.h"

#include <stdio.h>

static uint8_t images[DIGEST_IMAGES][4 * DIGEST_MAX_PIXELS];
static uint8_t reduced[DIGEST_MAX_PIXELS];
static uint8_t mapped[DIGEST_MAX_PIXELS];

int main(void) {
    int failed = 0;
    for (int i = 0; i < DIGEST_IMAGES; ++i) {
        digestImage(i, images[i]);
    }
    for (size_t n = 0; n < DIGEST_CASE_COUNT; ++n) {
        const DigestCase* c = &DIGEST_CASES[n];
        const int next = (c->image + 1) % DIGEST_IMAGES;
        const uint32_t width = DIGEST_IMAGE_SIZES[c->image][0];
        const uint32_t height = DIGEST_IMAGE_SIZES[c->image][1];
        const uint32_t nextWidth = DIGEST_IMAGE_SIZES[next][0];
        const uint32_t nextHeight = DIGEST_IMAGE_SIZES[next][1];
        daz_quantize_options options;
        daz_default_quantize_options(&options);
        options.colors = c->colors;
        options.dither = c->dither;
        options.transparent_index = c->transparent;
        options.background[0] = (uint8_t)(c->background >> 16);
        options.background[1] = (uint8_t)(c->background >> 8);
        options.background[2] = (uint8_t)c->background;
        uint8_t palette[DAZ_PALETTE_BYTES];
        int entries = 0;
        int result = daz_quantize(images[c->image], 4 * (size_t)width, width, height, NULL,
                                  &options, palette, &entries, reduced, sizeof reduced);
        if (result == DAZ_OK) {
            result = daz_remap(images[next], 4 * (size_t)nextWidth, nextWidth, nextHeight, NULL,
                               &options, palette, entries, mapped, sizeof mapped);
        }
        if (result != DAZ_OK) {
            printf("FAILED %s: %s\n", c->name, daz_strerror(result));
            failed = 1;
            continue;
        }
        const uint64_t found =
            digestOf(entries, palette, reduced, (size_t)width * height) ^
            (digestOf(entries, palette, mapped, (size_t)nextWidth * nextHeight) << 1);
        const int same = found == c->digest;
        printf("%s %s: 0x%016llx\n", same ? "same" : "DIFFERENT", c->name,
               (unsigned long long)found);
        failed |= !same;
    }
    return failed;
}
