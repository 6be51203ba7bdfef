#include "api/memory_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace orvx {

namespace {

// What an output stream has done: where it is and the furthest it reached.
struct OutputState {
    std::uint8_t* out = nullptr; // null: count only
    std::size_t capacity = 0;
    bool staged = false;
    std::vector<std::uint8_t> stage; // staged: the bytes so far
    std::uint64_t position = 0;
    std::uint64_t end = 0;
    bool overflow = false;
};

} // namespace

#if defined(_WIN32)

// No stream over memory here: temporary files, whose bytes go into the
// caller's buffer once they are whole.

bool openMemoryInput(MemoryInput& input, const void* data, std::size_t size) {
    input.stream = std::tmpfile();
    if (input.stream == nullptr) {
        return false;
    }
    if ((size > 0 && std::fwrite(data, 1, size, input.stream) != size) ||
        std::fseek(input.stream, 0, SEEK_SET) != 0) {
        closeMemoryInput(input);
        return false;
    }
    return true;
}

// The temporary file stages every output.
bool openMemoryOutput(MemoryOutput& output, void* out, std::size_t capacity, bool /*staged*/) {
    auto* state = new (std::nothrow) OutputState{};
    if (state == nullptr) {
        return false;
    }
    state->out = static_cast<std::uint8_t*>(out);
    state->capacity = capacity;
    output.stream = std::tmpfile();
    if (output.stream == nullptr) {
        delete state;
        return false;
    }
    output.state = state;
    return true;
}

MemoryOutcome closeMemoryOutput(MemoryOutput& output, bool keep, std::uint64_t limit,
                                std::size_t& size) {
    auto* state = static_cast<OutputState*>(output.state);
    MemoryOutcome outcome = MemoryOutcome::FAILED;
    const long long end = std::fseek(output.stream, 0, SEEK_END) == 0
                              ? static_cast<long long>(_ftelli64(output.stream))
                              : -1;
    if (end >= 0) {
        size = static_cast<std::size_t>(end);
        if (size > limit) {
            outcome = MemoryOutcome::TOO_BIG;
        } else if (state->out == nullptr || !keep) {
            outcome = MemoryOutcome::WHOLE;
        } else if (size > state->capacity) {
            outcome = MemoryOutcome::OVERFLOW;
        } else if (std::fseek(output.stream, 0, SEEK_SET) == 0 &&
                   std::fread(state->out, 1, size, output.stream) == size) {
            outcome = MemoryOutcome::WHOLE;
        }
    }
    static_cast<void>(std::fclose(output.stream));
    output.stream = nullptr;
    delete state;
    output.state = nullptr;
    return outcome;
}

#else

namespace {

ssize_t writeOutput(void* cookie, const char* data, std::size_t size) {
    auto& state = *static_cast<OutputState*>(cookie);
    if (state.out != nullptr) {
        if (state.position > state.capacity || size > state.capacity - state.position) {
            state.overflow = true;
            errno = ENOSPC;
            return 0;
        }
        const auto end = static_cast<std::size_t>(state.position) + size;
        std::uint8_t* to = state.out;
        if (state.staged) {
            if (end > state.stage.size()) {
                try {
                    state.stage.resize(end);
                } catch (const std::bad_alloc&) {
                    errno = ENOMEM;
                    return 0;
                }
            }
            to = state.stage.data();
        }
        std::memcpy(to + state.position, data, size);
    }
    state.position += size;
    state.end = std::max(state.end, state.position);
    return static_cast<ssize_t>(size);
}

int seekOutput(void* cookie, off64_t* offset, int whence) {
    auto& state = *static_cast<OutputState*>(cookie);
    std::int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<std::int64_t>(state.position);
    } else if (whence == SEEK_END) {
        base = static_cast<std::int64_t>(state.end);
    }
    const std::int64_t target = base + *offset;
    if (target < 0) {
        errno = EINVAL;
        return -1;
    }
    state.position = static_cast<std::uint64_t>(target);
    *offset = target;
    return 0;
}

int closeOutput(void* /*cookie*/) {
    return 0;
}

} // namespace

bool openMemoryInput(MemoryInput& input, const void* data, std::size_t size) {
    // An empty input still needs a buffer to point at.
    static char nothing = 0;
    void* bytes = size > 0 ? const_cast<void*>(data) : &nothing;
    input.stream = fmemopen(bytes, size, "rb");
    return input.stream != nullptr;
}

bool openMemoryOutput(MemoryOutput& output, void* out, std::size_t capacity, bool staged) {
    auto* state = new (std::nothrow) OutputState{};
    if (state == nullptr) {
        return false;
    }
    state->out = static_cast<std::uint8_t*>(out);
    state->capacity = capacity;
    state->staged = staged;
    const cookie_io_functions_t functions{nullptr, writeOutput, seekOutput, closeOutput};
    output.stream = fopencookie(state, "wb", functions);
    if (output.stream == nullptr) {
        delete state;
        return false;
    }
    // The conversions write whole chunks: each goes straight in.
    static_cast<void>(std::setvbuf(output.stream, nullptr, _IONBF, 0));
    output.state = state;
    return true;
}

MemoryOutcome closeMemoryOutput(MemoryOutput& output, bool keep, std::uint64_t limit,
                                std::size_t& size) {
    auto* state = static_cast<OutputState*>(output.state);
    const bool closed = std::fclose(output.stream) == 0;
    output.stream = nullptr;
    MemoryOutcome outcome = MemoryOutcome::FAILED;
    if (state->overflow) {
        outcome = MemoryOutcome::OVERFLOW;
    } else if (closed && state->end > limit) {
        outcome = MemoryOutcome::TOO_BIG;
    } else if (closed) {
        outcome = MemoryOutcome::WHOLE;
        size = static_cast<std::size_t>(state->end);
        if (keep && state->staged && state->out != nullptr && size > 0) {
            // Seeks may leave a gap never written: stage is zeroed there.
            std::memcpy(state->out, state->stage.data(), size);
        }
    }
    delete state;
    output.state = nullptr;
    return outcome;
}

#endif

void closeMemoryInput(MemoryInput& input) {
    if (input.stream != nullptr) {
        static_cast<void>(std::fclose(input.stream));
        input.stream = nullptr;
    }
}

} // namespace orvx
