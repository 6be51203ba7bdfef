// What every host (a viewer's loader, an editor's plug-in, a thumbnailer, a
// binding) would otherwise work out again from a daz header: the rows a file
// holds, the colour table to show, the bits to write, the key as text.
#include "daz/daz.h"

#include "format/daz_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Whether info's bits and colors are ones a header holds.
bool soundInfo(const daz_info* info) {
    if (info == nullptr || (info->bits != 4 && info->bits != 8)) {
        return false;
    }
    const int most = info->bits == 4 ? orvx::MAX_COLORS_4BPP : orvx::MAX_COLORS_8BPP;
    return info->colors >= 1 && info->colors <= most;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

extern "C" {

int daz_rows_present(const daz_info* info, uint64_t file_size, uint32_t* rows) {
    if (!soundInfo(info) || rows == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    const std::uint64_t pixelStart =
        orvx::DAZ_HEADER_SIZE + orvx::PALETTE_ENTRY_SIZE * static_cast<std::uint64_t>(info->colors);
    if (file_size < pixelStart) {
        return DAZ_ERR_TRUNCATED;
    }
    const std::uint64_t rowSize = orvx::dazRowSize(info->width, static_cast<unsigned>(info->bits));
    const std::uint64_t present = rowSize == 0 ? 0 : (file_size - pixelStart) / rowSize;
    const std::uint64_t whole = std::min<std::uint64_t>(present, info->rows);
    if (whole == 0) {
        return DAZ_ERR_NO_ROWS;
    }
    *rows = static_cast<std::uint32_t>(whole);
    return DAZ_OK;
}

int daz_display_palette(const daz_info* info, int highest_index, uint8_t* palette, int* entries) {
    if (!soundInfo(info) || palette == nullptr || entries == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    const int depth = 1 << info->bits;
    if (highest_index < -1 || highest_index >= depth) {
        return DAZ_ERR_ARGUMENT;
    }
    const int shown = highest_index < 0 ? depth : std::max(info->colors, highest_index + 1);
    std::memset(palette, 0, DAZ_PALETTE_BYTES);
    for (int entry = 0; entry < shown; ++entry) {
        std::uint8_t* colour = palette + std::size_t{4} * static_cast<std::size_t>(entry);
        if (entry < info->colors) {
            std::memcpy(colour, info->palette + std::size_t{4} * static_cast<std::size_t>(entry),
                        3);
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

int daz_bits_for(int entries, int highest_index, int* bits) {
    if (entries < 1 || entries > DAZ_MAX_PALETTE || highest_index < -1 ||
        highest_index >= DAZ_MAX_PALETTE || bits == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    *bits = entries <= orvx::MAX_COLORS_4BPP && highest_index < orvx::MAX_COLORS_4BPP ? 4 : 8;
    return DAZ_OK;
}

int daz_key_to_text(uint16_t key, char* text, size_t size) {
    if (text == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    if (size < DAZ_KEY_TEXT_SIZE) {
        return DAZ_ERR_BUFFER;
    }
    const char* digits = "0123456789abcdef";
    for (int place = 0; place < 4; ++place) {
        text[place] = digits[(key >> (12 - 4 * place)) & 0xFU];
    }
    text[4] = '\0';
    return DAZ_OK;
}

int daz_key_from_text(const char* text, uint16_t* key) {
    if (text == nullptr || key == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    const char* at = text;
    while (isBlank(*at)) {
        ++at;
    }
    if (*at == '+') {
        ++at;
    }
    if (at[0] == '0' && (at[1] == 'x' || at[1] == 'X')) {
        at += 2;
    }
    unsigned value = 0;
    int digits = 0;
    for (int digit = hexValue(*at); digit >= 0; digit = hexValue(*++at)) {
        if (++digits > 4) {
            return DAZ_ERR_ARGUMENT;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    while (isBlank(*at)) {
        ++at;
    }
    if (digits == 0 || *at != '\0') {
        return DAZ_ERR_ARGUMENT;
    }
    *key = static_cast<std::uint16_t>(value);
    return DAZ_OK;
}

} // extern "C"
