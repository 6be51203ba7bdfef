// entry.h - the main function every command shares. On Windows it is wmain,
// so that the arguments come whole whatever the code page, and pass on in
// UTF-8 (the file functions take UTF-8 paths); elsewhere main, the arguments
// as they are. The commands themselves take UTF-8 either way.
//
// The process is the command's own: its signals too (ownProcessSignals), so
// that an interrupted run takes its temporary file along whatever the signal.
//
// Nothing throws past main: the commands turn a failed allocation into their
// own failure, and whatever else escapes (memory for the arguments
// themselves) ends the run with the failure status, not an abort.
#pragma once

#include "platform/platform.h"

namespace orvx {
inline constexpr int ENTRY_FAILURE = -1; // as every command's own failure
} // namespace orvx

#ifdef _WIN32
#define ORVX_MAIN(run)                                                                             \
    int wmain(int argc, wchar_t** argv) {                                                          \
        try {                                                                                      \
            orvx::ownProcessSignals();                                                             \
            return orvx::runWithWideArguments(argc, argv, run);                                    \
        } catch (...) {                                                                            \
            return orvx::ENTRY_FAILURE;                                                            \
        }                                                                                          \
    }
#else
#define ORVX_MAIN(run)                                                                             \
    int main(int argc, char** argv) {                                                              \
        try {                                                                                      \
            orvx::ownProcessSignals();                                                             \
            return run(argc, argv);                                                                \
        } catch (...) {                                                                            \
            return orvx::ENTRY_FAILURE;                                                            \
        }                                                                                          \
    }
#endif
