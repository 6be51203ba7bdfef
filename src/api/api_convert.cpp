// The conversions of the C API: any input into daz and daz back out, in
// memory and file to file, and the safe output of bytes a program made.
#include "api/api_convert.h"

#include "api/api_rows.h"
#include "api/memory_stream.h"
#include "convert/daz_to_bmp.h"
#include "convert/daz_to_png.h"
#include "output/destination.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>

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

// The conversion back to format: the stream call and the file call.
struct ExportEntry {
    int (*stream)(std::FILE* in, std::FILE* out, const PlanCheck* check);
    int (*file)(const char* source, const char* destination, const PlanCheck* check);
    bool sizeKnown; // the output's size follows from the header: written directly
};

const ExportEntry* exportEntry(int format) {
    static const ExportEntry bmp{convertDazStreamToBmp, convertDazToBmp, true};
    static const ExportEntry png{convertDazStreamToPng, convertDazToPng, false};
    if (format == DAZ_FORMAT_BMP) {
        return &bmp;
    }
    if (format == DAZ_FORMAT_PNG) {
        return &png;
    }
    return nullptr;
}

// The first bytes of the file at path, to tell its format: DAZ_OK,
// DAZ_ERR_OPEN or DAZ_ERR_READ.
int readFormat(const char* path, daz_format& format) {
    std::FILE* file = openFileForReading(path);
    if (file == nullptr) {
        return DAZ_ERR_OPEN;
    }
    std::array<std::uint8_t, DAZ_GUESS_BYTES> bytes{};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    const bool failed = std::ferror(file) != 0;
    static_cast<void>(std::fclose(file));
    if (failed) {
        return DAZ_ERR_READ;
    }
    format = guessFormat(bytes.data(), got);
    return DAZ_OK;
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
    const FormatEntry* input =
        formatEntry(guessFormat(static_cast<const std::uint8_t*>(data), size));
    if (input == nullptr || input->convertStream == nullptr) {
        return DAZ_ERR_FORMAT;
    }
    return runInMemory(
        [&](std::FILE* in, std::FILE* to, bool seekable, const PlanCheck& check,
            const CallBounds& bounds) -> std::int64_t {
            const ConvertResult result =
                input->convertStream(in, to, seekable, colors, key, &check);
            return result >= 0 ? result : dazErrorOf(result, input->errors, bounds.refusal);
        },
        limits, input->faultsLate, data, size, out, capacity, written, undefined);
}

int daz_export(const void* data, size_t size, const daz_limits* limits, int format, void* out,
               size_t capacity, size_t* written) {
    const ExportEntry* entry = exportEntry(format);
    if (entry == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return runInMemory(
        [&](std::FILE* in, std::FILE* to, bool /*seekable*/, const PlanCheck& check,
            const CallBounds& /*bounds*/) -> std::int64_t { return entry->stream(in, to, &check); },
        limits, !entry->sizeKnown, data, size, out, capacity, written, nullptr);
}

int daz_convert_file(const char* source, const char* destination, const daz_limits* limits,
                     int colors, uint16_t key, uint64_t* undefined) {
    if (source == nullptr || destination == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        daz_format format = DAZ_FORMAT_UNKNOWN;
        const int read = readFormat(source, format);
        if (read != DAZ_OK) {
            return read;
        }
        const FormatEntry* input = formatEntry(format);
        if (input == nullptr || input->convertFile == nullptr) {
            return DAZ_ERR_FORMAT;
        }
        CallBounds bounds{limits};
        const PlanCheck check{checkBounds, &bounds};
        const ConvertResult result = input->convertFile(source, destination, colors, key, &check);
        if (result >= 0 && undefined != nullptr) {
            *undefined = static_cast<std::uint64_t>(result);
        }
        return dazErrorOf(result, input->errors, bounds.refusal);
    });
}

int daz_export_file(const char* source, const char* destination, const daz_limits* limits,
                    int format) {
    const ExportEntry* entry = exportEntry(format);
    if (source == nullptr || destination == nullptr || entry == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        CallBounds bounds{limits};
        const PlanCheck check{checkBounds, &bounds};
        return entry->file(source, destination, &check);
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

} // extern "C"
