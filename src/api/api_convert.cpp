// The conversion calls' shared part: the result codes' mapping and the run
// of a conversion in memory.
#include "api/api_convert.h"

#include "api/memory_stream.h"

#include <array>

namespace orvx {

namespace {

// The codes into daz, ERR_READ (-1) first; the input's own codes are the
// bitmap's, and the PNG's where they differ.
constexpr std::array<int, 8> CONVERT_ERRORS{
    DAZ_ERR_READ,    DAZ_ERR_WRITE,    DAZ_ERR_OPEN,   DAZ_ERR_CREATE,
    DAZ_ERR_NOT_BMP, DAZ_ERR_BMP_BITS, DAZ_ERR_COLORS, DAZ_ERR_TOO_BIG_TO_HOLD,
};

// The codes back, DECODE_ERR_OPEN (-1) first. DECODE_ERR_TOO_BIG is no
// longer given: it would be past the image format's limits.
constexpr std::array<int, DECODE_CODE_COUNT> DECODE_ERRORS{
    DAZ_ERR_OPEN,      DAZ_ERR_READ,   DAZ_ERR_NOT_DAZ, DAZ_ERR_DAZ_BITS, DAZ_ERR_DAZ_COLORS,
    DAZ_ERR_TRUNCATED, DAZ_ERR_LIMITS, DAZ_ERR_CREATE,  DAZ_ERR_WRITE,    DAZ_ERR_NO_ROWS,
};

static_assert(-ERR_TOO_BIG_TO_HOLD == CONVERT_ERRORS.size());

} // namespace

int dazErrorOf(std::int64_t code, CodeSource source) {
    if (code >= 0) {
        return DAZ_OK;
    }
    const auto index = static_cast<std::size_t>(-(code + 1));
    if (source == CodeSource::DAZ_TO_IMAGE) {
        return index < DECODE_ERRORS.size() ? DECODE_ERRORS.at(index) : DAZ_ERR_READ;
    }
    if (index >= CONVERT_ERRORS.size()) {
        return DAZ_ERR_READ;
    }
    const int error = CONVERT_ERRORS.at(index);
    if (source == CodeSource::PNG_TO_DAZ) {
        if (error == DAZ_ERR_NOT_BMP) {
            return DAZ_ERR_NOT_PNG;
        }
        if (error == DAZ_ERR_BMP_BITS) {
            return DAZ_ERR_PNG_NOT_PALETTE;
        }
    }
    return error;
}

int finishFileConversion(ConvertResult result, CodeSource source, std::uint64_t* undefined) {
    if (result >= 0 && undefined != nullptr) {
        *undefined = static_cast<std::uint64_t>(result);
    }
    return dazErrorOf(result, source);
}

namespace {

// Runs run(in, out, seekable), a conversion giving a result code, from
// data[0, size) into out[0, capacity), or only counting the bytes when out is
// null; *written gets the output's size, *undefined (may be null) the count,
// but for the size query, which gives the size alone.
template <typename Run>
int runInMemory(Run run, CodeSource source, const void* data, std::size_t size, void* out,
                std::size_t capacity, std::size_t* written, std::uint64_t* undefined) {
    if ((data == nullptr && size > 0) || written == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    if (out == nullptr) {
        capacity = 0; // the size query: the stream only counts
        undefined = nullptr;
    }
    return guarded([&]() -> int {
        MemoryInput input;
        if (!openMemoryInput(input, data, size)) {
            return DAZ_ERR_MEMORY;
        }
        MemoryOutput output;
        if (!openMemoryOutput(output, out, capacity)) {
            closeMemoryInput(input);
            return DAZ_ERR_MEMORY;
        }
        const std::int64_t result = run(input.stream, output.stream, output.seekable);
        closeMemoryInput(input);
        std::size_t outputSize = 0;
        const MemoryOutcome outcome = closeMemoryOutput(output, outputSize);
        if (outcome == MemoryOutcome::OVERFLOW) {
            return DAZ_ERR_BUFFER; // whatever failed, it failed for want of room
        }
        if (result < 0) {
            return dazErrorOf(result, source);
        }
        if (outcome == MemoryOutcome::FAILED) {
            return DAZ_ERR_WRITE;
        }
        *written = outputSize;
        if (undefined != nullptr) {
            *undefined = static_cast<std::uint64_t>(result);
        }
        return DAZ_OK;
    });
}

} // namespace

int convertInMemory(StreamConversion convert, CodeSource source, const void* data, std::size_t size,
                    int colors, std::uint16_t key, void* out, std::size_t capacity,
                    std::size_t* written, std::uint64_t* undefined) {
    return runInMemory(
        [&](std::FILE* in, std::FILE* to, bool seekable) -> std::int64_t {
            return convert(in, to, seekable, colors, key);
        },
        source, data, size, out, capacity, written, undefined);
}

int decodeInMemory(DecodeConversion convert, const void* data, std::size_t size, void* out,
                   std::size_t capacity, std::size_t* written) {
    return runInMemory([&](std::FILE* in, std::FILE* to,
                           bool /*seekable*/) -> std::int64_t { return convert(in, to); },
                       CodeSource::DAZ_TO_IMAGE, data, size, out, capacity, written, nullptr);
}

} // namespace orvx
