// A binary PGM as RGBA: each sample the grey of its place on the PGM's
// scale, round(sample * 255 / maxval), opaque; a sample past maxval white.
#include "convert/pgm/netpbm.h"
#include "convert/pgm/pgm_format.h"
#include "convert/pgm/pgm_header.h"
#include "convert/pgm/pgm_indices.h"

namespace orvx {

int readPgmRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    PgmHeader pgm;
    const ConvertResult header = readPgmHeader(source, pgm);
    if (header < 0) {
        return dazErrorOf(header, PGM_INPUT_ERRORS);
    }
    NetpbmRaster raster;
    raster.width = pgm.width;
    raster.height = pgm.height;
    raster.maxval = pgm.maxval;
    raster.offset = pgm.rasterOffset;
    return readNetpbmRgba(source, raster, check, sizeOnly, image);
}

} // namespace orvx
