#include "convert/bmp_to_daz.h"

#include "convert/bmp/bmp_format.h"
#include "convert/driver.h"

namespace orvx {

namespace {

const FormatReader* pickBitmap(std::FILE* /*source*/, int& /*error*/) {
    return &BMP_READER;
}

} // namespace

ConvertResult resultCodeOf(int error, std::uint64_t undefined) {
    switch (error) {
    case DAZ_OK:
        return static_cast<ConvertResult>(undefined);
    case DAZ_ERR_WRITE:
        return ERR_WRITE;
    case DAZ_ERR_OPEN:
        return ERR_OPEN;
    case DAZ_ERR_CREATE:
        return ERR_CREATE;
    case DAZ_ERR_NOT_BMP:
        return ERR_NOT_BMP;
    case DAZ_ERR_BMP_BITS:
        return ERR_BAD_DEPTH;
    case DAZ_ERR_COLORS:
        return ERR_BAD_COLORS;
    case DAZ_ERR_TOO_BIG_TO_HOLD:
        return ERR_TOO_BIG_TO_HOLD;
    default: // a failed read, and memory, which counts as one: the input is what is held
        return ERR_READ;
    }
}

ConvertResult convertBmpToDaz(const char* source, const char* destination, int requestedColors,
                              std::uint16_t key) {
    return convertBmpToDazWith(stdioFileOps(), source, destination, requestedColors, key);
}

ConvertResult convertBmpToDazWith(const FileOps& ops, const char* source, const char* destination,
                                  int requestedColors, std::uint16_t key) {
    std::uint64_t undefined = 0;
    const int error = convertFileToDaz(ops, source, destination, pickBitmap,
                                       IndexRequest{requestedColors, key}, nullptr, &undefined);
    return resultCodeOf(error, undefined);
}

} // namespace orvx
