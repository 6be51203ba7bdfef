// Streams over real files whose every read, write, seek and close is counted,
// and the chosen one fails: for driving the conversion down each error path.
#pragma once

#include "convert/bmp_to_daz.h"

#include <cstdio>

struct FaultPlan {
    long failAt = -1; // 1-based number of the call that fails; -1 for none
    long calls = 0;   // calls made so far, opens included
};

// Uses plan for every stream until the next call; FileOps that open counted
// streams ("rb" for the source, "wb" for the destination).
const FileOps& faultyFileOps(FaultPlan& plan);
