// api_convert.h - what the C API's calls share: the guard that keeps
// exceptions inside a call, and the one table of the formats the library
// knows (convert/formats.h).
#pragma once

#include "convert/formats.h"
#include "convert/result_codes.h"
#include "daz/daz.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>

namespace orvx {

// Runs call, a function returning a daz_error, and keeps every exception in:
// memory that can't be had is DAZ_ERR_MEMORY, as is anything else thrown
// (the code below throws nothing else).
template <typename Call> int guarded(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return DAZ_ERR_MEMORY;
    } catch (...) {
        return DAZ_ERR_MEMORY;
    }
}

} // namespace orvx
