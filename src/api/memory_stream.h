// memory_stream.h - stdio streams over the caller's bytes, so that the
// conversions, which read and write FILE*s, run in memory unchanged.
#pragma once

#include <cstddef>
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
// nothing and counts: its size is the furthest byte written. False when it
// can't be had (memory).
bool openMemoryOutput(MemoryOutput& output, void* out, std::size_t capacity);

enum class MemoryOutcome {
    WHOLE,    // every write went in; size is the output's
    OVERFLOW, // a write would have gone past capacity
    FAILED,   // the stream failed otherwise
};

// Flushes and closes the stream; size gets the bytes written (the furthest).
MemoryOutcome closeMemoryOutput(MemoryOutput& output, std::size_t& size);

} // namespace orvx
