// Streams over real files whose every open, read, write, seek and close is
// counted, and the chosen one fails: for driving the conversion down each
// error path.
#pragma once

#include "convert/bmp_to_daz.h"

#include <cstdio>

enum class CallKind {
    NONE,
    OPEN_SOURCE,
    OPEN_DESTINATION,
    READ,
    SEEK,
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
};

// Uses plan for every stream until the next call; FileOps that open counted
// streams ("rb" for the source, "wb" for the destination).
const FileOps& faultyFileOps(FaultPlan& plan);
