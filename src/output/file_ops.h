// file_ops.h - how the conversions reach their files. Every call on the way
// to and from a file that can fail goes through this record, so that a test
// can hand a conversion calls that fail at any point it chooses.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdio>
#include <string>

namespace orvx {

// Pixels move in pieces of this size: one read and one write each.
inline constexpr std::size_t CHUNK_SIZE = 32768;

struct FileOps {
    // Opens the input for binary reading; null on failure.
    std::FILE* (*openSource)(const char* path);
    // A binary stream that writes to (and owns) an output descriptor the
    // conversion opened; null on failure, the descriptor then still open.
    std::FILE* (*openOutput)(int descriptor);
    // Creates a new empty file, exclusively, in folder, with a hidden name
    // made from name (see createTemporaryIn), which goes to temporaryName. A
    // descriptor open for reading and writing, or -1 with errno set.
    int (*createTemporary)(const Folder& folder, const std::string& name,
                           std::string& temporaryName);
    // Gives the open file these permission bits; 0, or -1 with errno set.
    int (*setMode)(int descriptor, unsigned mode);
    // Renames from onto to, both in folder, replacing what to names; 0, or -1
    // with errno set.
    int (*replace)(const Folder& folder, const std::string& from, const std::string& to);
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

// The real calls, with unbuffered streams where they can be (an output, a
// regular input): the conversions move whole chunks, so that each is one
// system call. A signal the program handles interrupts none of them.
const FileOps& stdioFileOps();

} // namespace orvx
