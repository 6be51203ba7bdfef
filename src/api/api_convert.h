// api_convert.h - what the C API's conversion calls share: the one mapping
// of the conversions' result codes onto daz_error, the guard that keeps
// exceptions inside a call, and the run of a conversion between the caller's
// bytes.
#pragma once

#include "convert/result_codes.h"
#include "daz/daz.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>

namespace orvx {

// Which conversion a code came from: the codes into daz are shared by the
// bitmap and the PNG, which name their own input; the codes back are others.
enum class CodeSource { BMP_TO_DAZ, PNG_TO_DAZ, DAZ_TO_IMAGE };

// DAZ_OK for a success (a code of 0 or more), else the daz_error for code.
int dazErrorOf(std::int64_t code, CodeSource source);

// Runs call, a function returning a daz_error, and keeps every exception in:
// memory that can't be had is DAZ_ERR_MEMORY, as is anything else thrown
// (the code below throws nothing else).
template <typename Call> int guarded(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return DAZ_ERR_MEMORY;
    } catch (...) {
        return DAZ_ERR_MEMORY;
    }
}

// A conversion between two streams: it reads in from its start and writes
// out; seekable tells whether out takes seeks. Its result code as above.
using StreamConversion = ConvertResult (*)(std::FILE* in, std::FILE* out, bool seekable, int colors,
                                           std::uint16_t key);

// daz_from_bmp and daz_from_png: runs convert from data[0, size) into
// out[0, capacity), or only counts the bytes when out is null; *written gets
// the daz file's size, *undefined (may be null) the count, but for the size
// query, which gives the size alone.
int convertInMemory(StreamConversion convert, CodeSource source, const void* data, std::size_t size,
                    int colors, std::uint16_t key, void* out, std::size_t capacity,
                    std::size_t* written, std::uint64_t* undefined);

// A daz file back into an image, between two streams: it reads in from its
// start and writes out. Its result code as the conversions back give it.
using DecodeConversion = DecodeResult (*)(std::FILE* in, std::FILE* out);

// daz_to_bmp and daz_to_png: as convertInMemory, without a count.
int decodeInMemory(DecodeConversion convert, const void* data, std::size_t size, void* out,
                   std::size_t capacity, std::size_t* written);

// The file calls: *undefined (may be null) gets result when it is a success.
int finishFileConversion(ConvertResult result, CodeSource source, std::uint64_t* undefined);

} // namespace orvx
