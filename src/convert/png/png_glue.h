// png_glue.h - how the tool meets libpng. libpng reports an error by jumping
// back to the setjmp of the call that failed; each call into it sits in a
// small function of its own that holds nothing needing clean-up, and turns
// the jump into a result code. Its warnings are dropped: the tool prints
// only its own messages, on standard output.
#pragma once

#include <png.h>

namespace orvx {

[[noreturn]] inline void jumpOnPngError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}

inline void dropPngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

} // namespace orvx
