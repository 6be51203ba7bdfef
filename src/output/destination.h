// destination.h - the output file's life, shared by every conversion, with
// one owner: writeDestination opens it, lets a conversion fill it, and puts
// it in place or takes it away, whichever way the conversion leaves.
//
// A regular file, new or existing, is written under a hidden temporary name
// in its own folder (".NAME.orvx-XXXXXX", beside the file a symbolic link
// leads to; the names are taken relative to the folder held open, so no path
// grows past what the system takes) and renamed over the destination once it
// is whole, with the mode, owner, group and extended attributes the
// destination had (a new file: 0666 less the umask). The destination's name
// only ever holds the old file or the whole new one.
//
// Where the rename can't replace the destination (a folder that may not be
// written to, another user's file in a sticky folder, a mount point), the
// whole output is staged first (beside it if the folder allows, else in the
// system's temporary folder) and then copied into the existing file under an
// exclusive lock, so that two runs into one file leave one whole output. Only
// a write error or a kill during that copy can damage the old file.
//
// A failure, an exception or any signal that ends the process and may be
// caught removes the temporary file. Anything else (a device, a FIFO) is
// written directly and never removed.
#pragma once

#include "convert/result_codes.h"
#include "output/file_ops.h"
#include "platform/platform.h"

#include <cstdio>
#include <new>
#include <string>

namespace orvx {

enum class OutputKind {
    DIRECT,  // not a regular file: written as it is
    REPLACE, // written under the temporary name, then renamed into place
    COPY,    // staged whole, then copied into the existing file under a lock
};

struct Destination {
    std::FILE* stream = nullptr;
    int descriptor = -1; // what the stream writes to; it closes with the stream
    const FileOps* ops = nullptr;
    OutputKind kind = OutputKind::DIRECT;
    Folder folder;               // REPLACE, COPY: the destination's folder, held open
    std::string name;            // the destination's name in it
    Folder staging;              // COPY staged elsewhere: the system's temporary folder
    std::string temporary;       // the staged file's name, in folder or staging
    FileIdentity previous;       // the destination before this run; MISSING if new
    FileIdentity written;        // what the stream writes to
    int previousDescriptor = -1; // the destination's file, open for writing
    int cleanup = -1;            // removes the temporary file on an interruption; -1: none
};

// Refuses a destination that is the input file (writing it would destroy
// what is being read; inputPath null: there is none) or where the messages go (the same regular
// file or pipe as standard output; a character device such as /dev/null may be both), a name that
// can't be created (empty, too long, a link loop, a missing folder), and an existing regular file
// that may not be opened for writing. Otherwise opens the stream, as above. False when refused or
// when the output can't be opened; nothing has been written then.
bool openDestination(Destination& destination, const FileOps& ops, const char* inputPath,
                     const char* path);

// Flushes and closes the stream and puts the output in place. False if any
// step failed; the caller then discards the destination.
bool closeDestination(Destination& destination);

// After a failure: closes the stream if it is still open and takes away what
// this run wrote. The destination's own earlier file is kept.
void discardDestination(Destination& destination);

// What writeDestination reports for failures of its own.
template <typename Result> struct OutputErrors {
    Result create; // refused, or can't be opened
    Result write;  // can't be put in place
    Result memory; // an allocation failed on the way
};

// Into daz, with the commands' codes: memory that can't be had is reported
// as a failed read, the input being what the conversion holds. Back, with
// daz_error values.
inline constexpr OutputErrors<ConvertResult> CONVERT_OUTPUT_ERRORS{ERR_CREATE, ERR_WRITE, ERR_READ};
inline constexpr OutputErrors<int> DECODE_OUTPUT_ERRORS{DAZ_ERR_CREATE, DAZ_ERR_WRITE,
                                                        DAZ_ERR_MEMORY};

// The whole life: opens the destination (errors.create when refused or not
// opened), lets write fill it, then puts it in place when write returns a
// result of 0 or more (errors.write when that fails) and takes it away when
// write returns a failure or runs out of memory (errors.memory), or throws
// anything else, which goes on to the caller.
template <typename Result, typename Write>
Result writeDestination(const FileOps& ops, const char* inputPath, const char* path,
                        const OutputErrors<Result>& errors, Write write) {
    Destination destination;
    Result result = errors.create;
    try {
        if (!openDestination(destination, ops, inputPath, path)) {
            discardDestination(destination);
            return errors.create;
        }
        result = write(destination);
        if (result >= 0 && !closeDestination(destination)) {
            result = errors.write;
        }
    } catch (const std::bad_alloc&) {
        result = errors.memory;
    } catch (...) {
        discardDestination(destination); // nothing of this run stays behind
        throw;
    }
    if (result < 0) {
        discardDestination(destination);
    }
    return result;
}

} // namespace orvx
