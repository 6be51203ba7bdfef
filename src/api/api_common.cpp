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
#define DAZ_STRERROR_CASE(name, number, text)                                                      \
    case name:                                                                                     \
        return text;
        DAZ_ERROR_TABLE(DAZ_STRERROR_CASE)
#undef DAZ_STRERROR_CASE
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
