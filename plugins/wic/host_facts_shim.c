/* Until daz.h declares the host facts (daz_rows_present, daz_display_palette,
 * daz_key_to_text), the codec builds on these stand-ins, which do what those
 * calls do from a daz_info. Deleted when the calls land. */
#include "host_facts_shim.h"

#include <string.h>

static int sound_info(const daz_info* info) {
    return info != NULL && (info->bits == 4 || info->bits == 8) && info->colors >= 1 &&
           info->colors <= (1 << info->bits);
}

int daz_rows_present(const daz_info* info, uint64_t file_size, uint32_t* rows) {
    if (!sound_info(info) || rows == NULL) {
        return DAZ_ERR_ARGUMENT;
    }
    uint64_t start = DAZ_HEADER_SIZE + 4 * (uint64_t)info->colors;
    if (file_size < start) {
        return DAZ_ERR_TRUNCATED;
    }
    uint64_t row_size = ((uint64_t)info->width * (unsigned)info->bits + 31) / 32 * 4;
    uint64_t present = row_size == 0 ? 0 : (file_size - start) / row_size;
    if (present > info->rows) {
        present = info->rows;
    }
    if (present == 0) {
        return DAZ_ERR_NO_ROWS;
    }
    *rows = (uint32_t)present;
    return DAZ_OK;
}

int daz_display_palette(const daz_info* info, int highest_index, uint8_t* palette, int* entries) {
    if (!sound_info(info) || palette == NULL || entries == NULL) {
        return DAZ_ERR_ARGUMENT;
    }
    int depth = 1 << info->bits;
    if (highest_index < -1 || highest_index >= depth) {
        return DAZ_ERR_ARGUMENT;
    }
    int shown = highest_index < 0
                    ? depth
                    : (info->colors > highest_index + 1 ? info->colors : highest_index + 1);
    memset(palette, 0, DAZ_PALETTE_BYTES);
    for (int entry = 0; entry < shown; ++entry) {
        uint8_t* colour = palette + 4 * entry;
        if (entry < info->colors) {
            memcpy(colour, info->palette + 4 * entry, 3);
        } else {
            colour[0] = DAZ_UNDEFINED_RED;
            colour[1] = DAZ_UNDEFINED_GREEN;
            colour[2] = DAZ_UNDEFINED_BLUE;
        }
        colour[3] = 255;
    }
    *entries = shown;
    return DAZ_OK;
}

int daz_key_to_text(uint16_t key, char* text, size_t size) {
    if (text == NULL) {
        return DAZ_ERR_ARGUMENT;
    }
    if (size < DAZ_KEY_TEXT_SIZE) {
        return DAZ_ERR_BUFFER;
    }
    static const char digits[] = "0123456789abcdef";
    for (int place = 0; place < 4; ++place) {
        text[place] = digits[(key >> (12 - 4 * place)) & 0xf];
    }
    text[4] = '\0';
    return DAZ_OK;
}
