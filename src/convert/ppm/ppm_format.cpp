// The binary PPM (netpbm's "P6"), read as RGBA: its header as PGM's (the
// same whitespace, comments and numbers, netpbm's), maxval 1 to 65535, then
// rows of red, green and blue samples, two bytes each, big-endian, past
// maxval 255; each sample scaled to 0..255 as PGM's are. No palette to keep.
#include "convert/ppm/ppm_format.h"

#include "convert/pgm/netpbm.h"

namespace orvx {

namespace {

constexpr std::uint32_t MAX_MAXVAL = 65535;

bool isPpm(const std::uint8_t* bytes, std::size_t size) {
    return size > 2 && bytes[0] == 'P' && bytes[1] == '6' &&
           (isNetpbmSpace(bytes[2]) || bytes[2] == '#');
}

int headerFault(ConvertResult fault) {
    return fault == ERR_READ ? DAZ_ERR_READ : DAZ_ERR_BAD_IMAGE;
}

int readPpmRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    NetpbmBytes in{source};
    NetpbmRaster raster;
    raster.depth = 3;
    ConvertResult read = readNetpbmMagic(in, '6');
    int c = read < 0 ? NetpbmBytes::END : in.nextFolded();
    for (std::uint32_t* field : {&raster.width, &raster.height, &raster.maxval}) {
        if (read >= 0) {
            read = readNetpbmNumber(in, c, *field);
        }
    }
    if (read < 0) {
        return headerFault(read);
    }
    if (raster.width == 0 || raster.height == 0 || raster.maxval == 0 ||
        raster.maxval > MAX_MAXVAL) {
        return DAZ_ERR_BAD_IMAGE;
    }
    if (raster.width >= NETPBM_NUMBER_CAP || raster.height >= NETPBM_NUMBER_CAP) {
        return DAZ_ERR_LIMITS;
    }
    raster.offset = in.consumed(); // past the one whitespace after maxval
    return readNetpbmRgba(source, raster, check, sizeOnly, image);
}

} // namespace

const FormatReader PPM_READER{DAZ_FORMAT_PPM, "PPM",   "ppm pnm", "image/x-portable-pixmap",
                              isPpm,          nullptr, nullptr,   false,
                              readPpmRgba,    nullptr, nullptr,   false};

} // namespace orvx
