// entry.h - the main function every command shares. On Windows it is wmain,
// so that the arguments come whole whatever the code page, and pass on in
// UTF-8 (the file functions take UTF-8 paths); elsewhere main, the arguments
// as they are. The commands themselves take UTF-8 either way.
#pragma once

#include "convert/platform.h"

#ifdef _WIN32
#define ORVX_MAIN(run)                                                                             \
    int wmain(int argc, wchar_t** argv) {                                                          \
        return runWithWideArguments(argc, argv, run);                                              \
    }
#else
#define ORVX_MAIN(run)                                                                             \
    int main(int argc, char** argv) {                                                              \
        return run(argc, argv);                                                                    \
    }
#endif
