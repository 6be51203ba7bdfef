// The conversions of the C API: any input into daz and daz back out, in
// memory and file to file, and the safe output of bytes a program made.
#include "api/api_convert.h"

#include "api/api_quantize.h"
#include "api/api_rows.h"
#include "api/memory_stream.h"
#include "convert/driver.h"
#include "convert/formats.h"
#include "convert/reduce_to_daz.h"
#include "output/destination.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

namespace orvx {

namespace {

std::uint64_t maxBytes(const daz_limits* limits) {
    daz_limits defaults{};
    if (limits == nullptr) {
        daz_default_limits(&defaults);
        limits = &defaults;
    }
    return limits->max_bytes;
}

// What a call takes on, asked by the conversion before it writes anything:
// the limits, and for a buffer of the caller's, its room. max_bytes bounds
// what a call holds and, in memory, the output it fills; a file's output is
// bounded by the image's limits alone.
struct CallBounds {
    const daz_limits* limits = nullptr;
    bool inMemory = false;
    bool checkRoom = false; // a buffer must hold the output
    std::size_t capacity = 0;
    int refusal = DAZ_OK; // why the plan was refused
};

int checkBounds(void* context, const OutputPlan& plan) {
    auto& bounds = *static_cast<CallBounds*>(context);
    const bool known = plan.bytes != UNKNOWN_SIZE;
    const std::uint64_t filled = bounds.inMemory && known ? plan.bytes : 0;
    bounds.refusal = checkLimits(bounds.limits, plan.width, plan.rows, std::max(filled, plan.held));
    if (bounds.refusal == DAZ_OK && bounds.checkRoom && known && plan.bytes > bounds.capacity) {
        bounds.refusal = DAZ_ERR_BUFFER;
    }
    return bounds.refusal;
}

// Runs run(in, out, seekable, check, bounds), a conversion from data[0, size)
// into out[0, capacity), or only counting the bytes when out is null. run
// gives a daz_error, or for a conversion into daz the count of undefined
// pixel values (0 or more). *written gets the output's size, *undefined (may
// be null) the count, but for the size query. out is written only on
// success: directly when the conversion can fail only before it writes (it
// checks the room first), else staged.
template <typename Run>
int runInMemory(Run run, const daz_limits* limits, bool staged, const void* data, std::size_t size,
                void* out, std::size_t capacity, std::size_t* written, std::uint64_t* undefined) {
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
        if (!openMemoryOutput(output, out, capacity, staged)) {
            closeMemoryInput(input);
            return DAZ_ERR_MEMORY;
        }
        CallBounds bounds{limits, true, out != nullptr, capacity};
        const PlanCheck check{checkBounds, &bounds};
        std::int64_t result = DAZ_ERR_MEMORY;
        try {
            result = run(input.stream, output.stream, output.seekable, check, bounds);
        } catch (const std::bad_alloc&) {
            result = DAZ_ERR_MEMORY;
        }
        closeMemoryInput(input);
        std::size_t outputSize = 0;
        const MemoryOutcome outcome =
            closeMemoryOutput(output, result >= 0, maxBytes(limits), outputSize);
        if (outcome == MemoryOutcome::OVERFLOW) {
            return DAZ_ERR_BUFFER; // whatever failed, it failed for want of room
        }
        if (result < 0) {
            return static_cast<int>(result);
        }
        if (outcome == MemoryOutcome::TOO_BIG) {
            return DAZ_ERR_LIMITS;
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

// The file at path, opened once to tell its format from its first bytes.
// A regular file is read again by its conversion; a FIFO or a device can't
// be, so it is held whole in held, up to maxHeld bytes (past them,
// DAZ_ERR_TOO_BIG_TO_HOLD). DAZ_OK, DAZ_ERR_OPEN or DAZ_ERR_READ.
int readSource(const char* path, std::uint64_t maxHeld, daz_format& format, bool& isHeld,
               std::vector<std::uint8_t>& held) {
    std::FILE* file = openFileForReading(path);
    if (file == nullptr) {
        return DAZ_ERR_OPEN;
    }
    std::array<std::uint8_t, DAZ_GUESS_BYTES> bytes{};
    std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    isHeld = std::fseek(file, 0, SEEK_SET) != 0;
    int result = std::ferror(file) != 0 ? DAZ_ERR_READ : DAZ_OK;
    if (result == DAZ_OK && isHeld) {
        held.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(got));
        std::array<std::uint8_t, 65536> piece{};
        while ((got = std::fread(piece.data(), 1, piece.size(), file)) > 0) {
            if (held.size() + got > maxHeld) {
                result = DAZ_ERR_TOO_BIG_TO_HOLD;
                break;
            }
            held.insert(held.end(), piece.begin(),
                        piece.begin() + static_cast<std::ptrdiff_t>(got));
        }
        if (result == DAZ_OK && std::ferror(file) != 0) {
            result = DAZ_ERR_READ;
        }
    }
    static_cast<void>(std::fclose(file));
    format = guessFormat(bytes.data(), isHeld ? held.size() : got);
    return result;
}

// What make(out, capacity, written, sizing) makes in memory, written as
// daz_write_file writes: it is called first with no room (sizing) for the
// size, then with room for that.
template <typename Make> int writeMadeInMemory(const char* destination, const Make& make) {
    std::size_t size = 0;
    int result = make(nullptr, 0, &size, true);
    if (result != DAZ_OK) {
        return result;
    }
    std::vector<std::uint8_t> daz(size);
    result = make(daz.data(), daz.size(), &size, false);
    return result != DAZ_OK ? result : daz_write_file(destination, daz.data(), size);
}

// daz_convert_file for a source held whole: converted in memory, then
// written as daz_write_file writes.
int convertHeld(const std::vector<std::uint8_t>& held, const char* destination,
                const daz_limits* limits, int colors, std::uint16_t key, std::uint64_t* undefined) {
    return writeMadeInMemory(
        destination, [&](void* out, std::size_t capacity, std::size_t* written, bool sizing) {
            return daz_convert(held.data(), held.size(), limits, colors, key, out, capacity,
                               written, sizing ? nullptr : undefined);
        });
}

// Why input can't be converted with its indices kept, or DAZ_OK: no known
// format, or daz itself (DAZ_ERR_FORMAT); a format without a palette
// (DAZ_ERR_NOT_INDEXED).
int indexReaderError(const FormatReader* input) {
    if (input == nullptr || input->format == DAZ_FORMAT_DAZ) {
        return DAZ_ERR_FORMAT;
    }
    return input->openIndices != nullptr ? DAZ_OK : DAZ_ERR_NOT_INDEXED;
}

// A reduction's request from daz_reduce's arguments: DAZ_ERR_ARGUMENT for
// options out of range or a palette of no entries or more than 256.
int takeReduceRequest(const daz_quantize_options* options, const std::uint8_t* palette, int entries,
                      std::uint16_t key, ReduceRequest& request) {
    if (palette != nullptr && (entries < 1 || entries > DAZ_MAX_PALETTE)) {
        return DAZ_ERR_ARGUMENT;
    }
    request.palette = palette;
    request.entries = palette != nullptr ? entries : 0;
    request.key = key;
    return takeQuantizeOptions(options, request.entries, request.options);
}

// daz_reduce_file for a source held whole: reduced in memory, then written
// as daz_write_file writes.
// The source and the file made count against max_bytes with the reduction.
int reduceHeld(const std::vector<std::uint8_t>& held, const char* destination,
               const daz_limits* limits, const daz_quantize_options* options,
               const std::uint8_t* palette, int entries, std::uint16_t key) {
    daz_limits left{};
    daz_default_limits(&left);
    if (limits != nullptr) {
        left = *limits;
    }
    return writeMadeInMemory(
        destination, [&](void* out, std::size_t capacity, std::size_t* written, bool /*sizing*/) {
            const std::uint64_t taken = std::uint64_t{held.size()} + capacity;
            daz_limits within = left;
            within.max_bytes = left.max_bytes - std::min(left.max_bytes, taken);
            return daz_reduce(held.data(), held.size(), &within, options, palette, entries, key,
                              out, capacity, written);
        });
}

// daz_reduce's size query: the most its file can take, from the header.
int reducedSize(const void* data, std::size_t size, const daz_limits* limits,
                const ReduceRequest& request, std::size_t& written) {
    MemoryInput input;
    if (!openMemoryInput(input, data, size)) {
        return DAZ_ERR_MEMORY;
    }
    CallBounds bounds{limits, true};
    const PlanCheck check{checkBounds, &bounds};
    std::uint64_t most = 0;
    const int result = reducedDazSize(input.stream, request, &check, most);
    closeMemoryInput(input);
    if (result == DAZ_OK) {
        written = static_cast<std::size_t>(most);
    }
    return result;
}

} // namespace

} // namespace orvx

using namespace orvx;

extern "C" {

int daz_convert(const void* data, size_t size, const daz_limits* limits, int colors, uint16_t key,
                void* out, size_t capacity, size_t* written, uint64_t* undefined) {
    if ((data == nullptr && size > 0) || written == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    const FormatReader* input =
        formatReader(guessFormat(static_cast<const std::uint8_t*>(data), size));
    const int usable = indexReaderError(input);
    if (usable != DAZ_OK) {
        return usable;
    }
    return runInMemory(
        [&](std::FILE* in, std::FILE* to, bool seekable, const PlanCheck& check,
            const CallBounds& /*bounds*/) -> std::int64_t {
            ReaderState state;
            int result = input->openIndices(in, IndexRequest{colors, key}, &check, state);
            std::uint64_t count = 0;
            if (result == DAZ_OK) {
                result = input->writeIndices(state, DazOutput{to, seekable}, &count);
            }
            return result == DAZ_OK ? static_cast<std::int64_t>(count) : result;
        },
        limits, input->faultsLate, data, size, out, capacity, written, undefined);
}

int daz_export(const void* data, size_t size, const daz_limits* limits, int format, void* out,
               size_t capacity, size_t* written) {
    const FormatReader* output = formatReader(format);
    if (output == nullptr || output->openExport == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return runInMemory(
        [&](std::FILE* in, std::FILE* to, bool /*seekable*/, const PlanCheck& check,
            const CallBounds& /*bounds*/) -> std::int64_t {
            ReaderState state;
            const int opened = output->openExport(in, &check, state);
            return opened != DAZ_OK ? opened : output->writeExport(state, to);
        },
        limits, !output->exportSizeKnown, data, size, out, capacity, written, nullptr);
}

int daz_convert_file(const char* source, const char* destination, const daz_limits* limits,
                     int colors, uint16_t key, uint64_t* undefined) {
    if (source == nullptr || destination == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        daz_format format = DAZ_FORMAT_UNKNOWN;
        bool isHeld = false;
        std::vector<std::uint8_t> held;
        const int read = readSource(source, maxBytes(limits), format, isHeld, held);
        if (read != DAZ_OK) {
            return read;
        }
        const int usable = indexReaderError(formatReader(format));
        if (usable != DAZ_OK) {
            return usable;
        }
        if (isHeld) {
            return convertHeld(held, destination, limits, colors, key, undefined);
        }
        CallBounds bounds{limits};
        const PlanCheck check{checkBounds, &bounds};
        return convertFileToDaz(stdioFileOps(), source, destination, readerFor,
                                IndexRequest{colors, key}, &check, undefined);
    });
}

int daz_export_file(const char* source, const char* destination, const daz_limits* limits,
                    int format) {
    const FormatReader* output = formatReader(format);
    if (source == nullptr || destination == nullptr || output == nullptr ||
        output->openExport == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        CallBounds bounds{limits};
        const PlanCheck check{checkBounds, &bounds};
        return exportFileFromDaz(stdioFileOps(), source, destination, *output, &check);
    });
}

int daz_write_file(const char* destination, const void* data, size_t size) {
    if (destination == nullptr || (data == nullptr && size > 0)) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        return writeDestination(
            stdioFileOps(), nullptr, destination, DECODE_OUTPUT_ERRORS,
            [&](Destination& output) -> int {
                const bool whole = size == 0 || std::fwrite(data, 1, size, output.stream) == size;
                return whole ? DAZ_OK : DAZ_ERR_WRITE;
            });
    });
}

int daz_reduce(const void* data, size_t size, const daz_limits* limits,
               const daz_quantize_options* options, const uint8_t* palette, int entries,
               uint16_t key, void* out, size_t capacity, size_t* written) {
    ReduceRequest request;
    if ((data == nullptr && size > 0) || written == nullptr ||
        takeReduceRequest(options, palette, entries, key, request) != DAZ_OK) {
        return DAZ_ERR_ARGUMENT;
    }
    if (out == nullptr) {
        return guarded([&]() -> int { return reducedSize(data, size, limits, request, *written); });
    }
    return runInMemory(
        [&](std::FILE* in, std::FILE* to, bool /*seekable*/, const PlanCheck& check,
            const CallBounds& /*bounds*/) -> std::int64_t {
            return reduceStreamToDaz(in, to, request, &check);
        },
        limits, false, data, size, out, capacity, written, nullptr);
}

int daz_reduce_file(const char* source, const char* destination, const daz_limits* limits,
                    const daz_quantize_options* options, const uint8_t* palette, int entries,
                    uint16_t key) {
    ReduceRequest request;
    if (source == nullptr || destination == nullptr ||
        takeReduceRequest(options, palette, entries, key, request) != DAZ_OK) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        daz_format format = DAZ_FORMAT_UNKNOWN;
        bool isHeld = false;
        std::vector<std::uint8_t> held;
        const int read = readSource(source, maxBytes(limits), format, isHeld, held);
        if (read != DAZ_OK) {
            return read;
        }
        if (formatReader(format) == nullptr) {
            return DAZ_ERR_FORMAT;
        }
        if (isHeld) {
            return reduceHeld(held, destination, limits, options, palette, entries, key);
        }
        CallBounds bounds{limits};
        const PlanCheck check{checkBounds, &bounds};
        return reduceFileToDaz(source, destination, request, &check);
    });
}

} // extern "C"
