#include "convert/pgm/pgm_header.h"

#include "convert/pgm/netpbm.h"

#include "format/daz_format.h"

namespace orvx {

ConvertResult readPgmHeader(std::FILE* source, PgmHeader& header) {
    NetpbmBytes in{source};
    ConvertResult read = readNetpbmMagic(in, '5');
    if (read < 0) {
        return read;
    }
    int c = in.nextFolded();
    read = readNetpbmNumber(in, c, header.width);
    if (read < 0 || header.width == 0 || header.width > DAZ_MAX_WIDTH) {
        return read < 0 ? read : ERR_NOT_BMP;
    }
    read = readNetpbmNumber(in, c, header.height);
    if (read < 0 || header.height == 0 || header.height > DAZ_MAX_HEIGHT) {
        return read < 0 ? read : ERR_NOT_BMP;
    }
    read = readNetpbmNumber(in, c, header.maxval);
    if (read < 0 || header.maxval == 0) {
        return read < 0 ? read : ERR_NOT_BMP;
    }
    if (header.maxval > PGM_MAX_BYTE_MAXVAL) {
        return ERR_BAD_DEPTH;
    }
    header.rasterOffset = in.consumed(); // past the one whitespace after maxval
    return 0;
}

} // namespace orvx
