// file_ops.h - how the conversions reach their files. Every call on the way
// to and from a file that can fail goes through this record, so that a test
// can hand a conversion calls that fail at any point it chooses.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Pixels move in pieces of this size: one read and one write each.
inline constexpr std::size_t CHUNK_SIZE = 32768;

struct FileOps {
    // Opens the input for binary reading; null on failure.
    std::FILE* (*openSource)(const char* path);
    // A binary stream that writes to (and owns) an output descriptor the
    // conversion opened; null on failure, the descriptor then still open.
    std::FILE* (*openOutput)(int descriptor);
    // Creates a new empty file, exclusively, in the folder of target, with a
    // hidden name made from target's (see createTemporaryBeside); its path
    // goes to path. A descriptor open for writing, or -1 with errno set.
    int (*createTemporary)(const char* target, std::string& path);
    // Gives the open file these permission bits; 0, or -1 with errno set.
    int (*setMode)(int descriptor, unsigned mode);
    // Renames from onto to, replacing what to names; 0, or -1 with errno set.
    int (*replace)(const char* from, const char* to);
};

// Opens the input with ops.openSource, runs convert on the stream and closes
// it again; openError when it can't be opened. The close is not checked: the
// input was only read.
template <typename Result, typename Convert>
Result withSource(const FileOps& ops, const char* path, Result openError, Convert convert) {
    std::FILE* stream = ops.openSource(path);
    if (stream == nullptr) {
        return openError;
    }
    const Result result = convert(stream);
    static_cast<void>(std::fclose(stream));
    return result;
}

// The real calls, with unbuffered streams: the conversions move whole chunks,
// so that each is one system call.
const FileOps& stdioFileOps();
