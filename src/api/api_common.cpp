// The parts of the C API every other part leans on: the version, the
// errors' text and the default limits.
#include "daz/daz.h"

#include <cstdint>

namespace {

#define DAZ_STRINGIFY(x) #x
#define DAZ_VERSION_TEXT(major, minor, patch)                                                      \
    DAZ_STRINGIFY(major) "." DAZ_STRINGIFY(minor) "." DAZ_STRINGIFY(patch)

constexpr std::uint64_t DEFAULT_MAX_PIXELS = std::uint64_t{1} << 28U;
constexpr std::uint64_t DEFAULT_MAX_BYTES = std::uint64_t{1} << 30U;

} // namespace

extern "C" {

const char* daz_version_string(void) {
    return DAZ_VERSION_TEXT(DAZ_VERSION_MAJOR, DAZ_VERSION_MINOR, DAZ_VERSION_PATCH);
}

const char* daz_strerror(int error) {
    switch (error) {
    case DAZ_OK:
        return "success";
    case DAZ_ERR_ARGUMENT:
        return "invalid argument";
    case DAZ_ERR_BUFFER:
        return "buffer too small";
    case DAZ_ERR_LIMITS:
        return "image past the limits";
    case DAZ_ERR_MEMORY:
        return "out of memory";
    case DAZ_ERR_NOT_DAZ:
        return "not a daz image";
    case DAZ_ERR_DAZ_BITS:
        return "daz image of neither 4 nor 8 bits per pixel";
    case DAZ_ERR_DAZ_COLORS:
        return "daz image with an invalid colour count";
    case DAZ_ERR_TRUNCATED:
        return "daz image shorter than its header and palette";
    case DAZ_ERR_NO_ROWS:
        return "daz image without one whole row of pixels";
    case DAZ_ERR_NOT_BMP:
        return "not a bitmap this library reads";
    case DAZ_ERR_BMP_BITS:
        return "bitmap of neither 4 nor 8 bits per pixel";
    case DAZ_ERR_NOT_PNG:
        return "not a valid PNG";
    case DAZ_ERR_PNG_NOT_PALETTE:
        return "PNG without a palette";
    case DAZ_ERR_COLORS:
        return "colour count out of range for this image";
    case DAZ_ERR_TOO_BIG_TO_HOLD:
        return "image too big to hold in memory";
    case DAZ_ERR_OPEN:
        return "input file cannot be opened";
    case DAZ_ERR_READ:
        return "read error or input cut short";
    case DAZ_ERR_CREATE:
        return "output file cannot be created";
    case DAZ_ERR_WRITE:
        return "write error";
    case DAZ_ERR_CALLBACK:
        return "a callback failed";
    case DAZ_ERR_STATE:
        return "call out of order, or after a failure";
    default:
        return "unknown error";
    }
}

void daz_default_limits(daz_limits* limits) {
    if (limits == nullptr) {
        return;
    }
    limits->max_width = DAZ_MAX_WIDTH;
    limits->max_height = DAZ_MAX_ROWS;
    limits->max_pixels = DEFAULT_MAX_PIXELS;
    limits->max_bytes = DEFAULT_MAX_BYTES;
}

} // extern "C"
