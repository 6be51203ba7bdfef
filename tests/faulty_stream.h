// Streams over real files whose every open, read, write, seek and close is
// counted, and the chosen one fails: for driving the conversion down each
// error path.
#pragma once

#include "output/file_ops.h"

#include <cstdio>

enum class CallKind {
    NONE,
    OPEN_SOURCE,
    OPEN_DESTINATION, // the stream over the output
    CREATE_TEMPORARY,
    SET_MODE,
    REPLACE,
    READ,
    SEEK, // on the source
    SEEK_DESTINATION,
    WRITE,
    CLOSE_SOURCE,
    CLOSE_DESTINATION
};

struct FaultPlan {
    long failAt = -1; // 1-based number of the call that fails; -1 for none
    long calls = 0;   // calls made so far
    CallKind failed = CallKind::NONE;
    bool destinationOpenAtFailure = false;
    bool destinationOpen = false;
    bool unbuffered = false; // as the real streams run; every byte read is then a call
    // No temporary file can be made (its folder may not be written to): the
    // output is written in place. These refusals are not counted as calls.
    bool folderNotWritable = false;
    // The rename can't replace the destination (a mount point): the output
    // is copied into it. Not counted as a call either.
    bool replaceRefused = false;
};

// Uses plan for every stream until the next call; FileOps that open counted
// streams ("rb" for the source, "wb" for the output) and count the calls that
// make, finish and place the output file.
const orvx::FileOps& faultyFileOps(FaultPlan& plan);
