// memory_stream.h - stdio streams over the caller's bytes, so that the
// conversions, which read and write FILE*s, run in memory unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace orvx {

struct MemoryInput {
    std::FILE* stream = nullptr;
};

// A stream that reads data[0, size), and seeks in it. False when it can't be
// had (memory).
bool openMemoryInput(MemoryInput& input, const void* data, std::size_t size);
void closeMemoryInput(MemoryInput& input);

struct MemoryOutput {
    std::FILE* stream = nullptr;
    bool seekable = true;
    void* state = nullptr; // the stream's own bookkeeping
};

// A stream that writes into out[0, capacity) and seeks there, never past
// capacity: a write that would go past it fails whole. With out null it keeps
// nothing and counts: its size is the furthest byte written. Staged, it
// writes into memory of its own, as much as capacity, and out gets the bytes
// only when closeMemoryOutput is told to keep them: for a conversion that
// may fail after it began writing. False when it can't be had (memory).
bool openMemoryOutput(MemoryOutput& output, void* out, std::size_t capacity, bool staged);

enum class MemoryOutcome {
    WHOLE,    // every write went in; size is the output's
    OVERFLOW, // a write would have gone past capacity
    TOO_BIG,  // whole, but past the limit: nothing staged was kept
    FAILED,   // the stream failed otherwise
};

// Flushes and closes the stream; size gets the bytes written (the furthest).
// keep: the conversion succeeded, and a staged output of at most limit bytes
// goes into out; else out is left as it was, whatever was staged.
MemoryOutcome closeMemoryOutput(MemoryOutput& output, bool keep, std::uint64_t limit,
                                std::size_t& size);

} // namespace orvx
