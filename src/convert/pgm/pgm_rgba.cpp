// A binary PGM as RGBA: each sample the grey of its place on the PGM's
// scale, round(sample * 255 / maxval), opaque; a sample past maxval white.
#include "convert/pgm/pgm_format.h"
#include "convert/pgm/pgm_header.h"
#include "convert/pgm/pgm_indices.h"
#include "platform/platform.h"

#include <algorithm>

namespace orvx {

int readPgmRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    PgmHeader pgm;
    const ConvertResult header = readPgmHeader(source, pgm);
    if (header < 0) {
        return dazErrorOf(header, PGM_INPUT_ERRORS);
    }
    const int checked = checkRgbaSize(check, pgm.width, pgm.height);
    if (checked != DAZ_OK) {
        return checked;
    }
    image.width = pgm.width;
    image.height = pgm.height;
    if (sizeOnly) {
        return DAZ_OK;
    }
    if (seekFile(source, static_cast<std::int64_t>(pgm.rasterOffset)) != 0) {
        return DAZ_ERR_READ;
    }
    image.pixels.assign(std::size_t{4} * pgm.width * pgm.height, 0);
    std::vector<std::uint8_t> row(pgm.width);
    std::uint8_t* out = image.pixels.data();
    for (std::uint32_t y = 0; y < pgm.height; ++y) {
        if (std::fread(row.data(), 1, row.size(), source) != row.size()) {
            return DAZ_ERR_READ;
        }
        for (const std::uint8_t sample : row) {
            const std::uint32_t value = std::min<std::uint32_t>(sample, pgm.maxval);
            const auto grey =
                static_cast<std::uint8_t>((value * 2 * 255 + pgm.maxval) / (2 * pgm.maxval));
            out[0] = grey;
            out[1] = grey;
            out[2] = grey;
            out[3] = 0xFF;
            out += 4;
        }
    }
    return DAZ_OK;
}

} // namespace orvx
