// destination.h - the output file's life, shared by every conversion.
//
// A regular file, new or existing, is written under a hidden temporary name
// in its own folder (".NAME.orvx-XXXXXX", beside the file a symbolic link
// leads to) and renamed over the destination once it is whole, with the mode,
// owner and group the destination had (a new file: 0666 less the umask). The
// destination's name only ever holds the old file or the whole new one. A
// failure, or an interrupting signal, removes the temporary file.
//
// Where no temporary file can be made because the folder may not be written
// to, a writable existing file is written in place, and a failure cuts it to
// zero length instead of leaving a partial file with a whole header.
//
// Anything else (a device, a FIFO) is written directly and never removed.
#pragma once

#include "convert/file_ops.h"
#include "convert/platform.h"

#include <cstdio>
#include <string>

enum class OutputKind {
    DIRECT,   // not a regular file: written as it is
    REPLACE,  // written under the temporary name, then renamed into place
    IN_PLACE, // the folder may not be written to: the file itself is
};

struct Destination {
    std::FILE* stream = nullptr;
    int descriptor = -1; // what the stream writes to; it closes with the stream
    const FileOps* ops = nullptr;
    OutputKind kind = OutputKind::DIRECT;
    std::string target;    // the file that ends up holding the output
    std::string temporary; // REPLACE: what the stream writes until the rename
    FileIdentity previous; // the destination before this run; MISSING if new
    FileIdentity written;  // what the stream writes to
    bool created = false;  // IN_PLACE: this run created the file
};

// Refuses a destination that is the input file (writing it would destroy
// what is being read) or where the messages go (the same regular file or
// pipe as standard output; a character device such as /dev/null may be
// both), and an existing regular file that may not be opened for writing.
// Otherwise opens the stream, as above. False when refused or when the
// output can't be opened; nothing has been written then.
bool openDestination(Destination& destination, const FileOps& ops, const char* inputPath,
                     const char* path);

// Flushes and closes the stream and puts the output in place. False if any
// step failed; the caller then discards the destination.
bool closeDestination(Destination& destination);

// After a failure: closes the stream if it is still open and takes away what
// this run wrote, as above. The destination's own earlier file is kept.
void discardDestination(Destination& destination);

// The whole life: opens the destination (createError when refused or not
// opened), lets write fill and close it, and discards it when write returns
// a failure (a negative result).
template <typename Result, typename Write>
Result writeDestination(const FileOps& ops, const char* inputPath, const char* path,
                        Result createError, Write write) {
    Destination destination;
    if (!openDestination(destination, ops, inputPath, path)) {
        return createError;
    }
    const Result result = write(destination);
    if (result < 0) {
        discardDestination(destination);
    }
    return result;
}
