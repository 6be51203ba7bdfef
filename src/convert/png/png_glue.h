// png_glue.h - how the tool meets libpng. libpng reports an error by jumping
// back to a setjmp; every call into it goes through withPngJump, whose frame
// is where the jump lands and holds nothing needing clean-up, and which
// turns the jump into a result code. Its warnings are dropped: the tool
// prints only its own messages, on standard output.
#pragma once

#include <csetjmp>
#include <png.h>

namespace orvx {

[[noreturn]] inline void jumpOnPngError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}

inline void dropPngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

// Runs call, which calls into libpng on png, and returns 0; when libpng fails
// on the way, returns onError() instead, asked once the jump has landed.
// Neither may own anything needing clean-up between the calls they make:
// the jump passes over their frames. (A function that calls setjmp is never
// inlined, so the landing frame stays this one.)
template <typename OnError, typename Call>
auto withPngJump(png_structp png, OnError onError, Call call) -> decltype(onError()) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return onError();
    }
    call();
    return 0;
}

} // namespace orvx
