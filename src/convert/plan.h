// plan.h - what a conversion knows of its work once its input's header is
// read, before it holds or writes anything, and the caller's say on it.
#pragma once

#include "daz/daz.h"

#include <cstdint>

namespace orvx {

struct OutputPlan {
    std::uint64_t width = 0; // pixels a row
    std::uint64_t rows = 0;
    std::uint64_t bytes = 0; // the output's size, exactly; UNKNOWN_SIZE when it can't be known yet
    std::uint64_t held = 0;  // bytes the conversion holds whole in memory (0: none past a chunk)
};

inline constexpr std::uint64_t UNKNOWN_SIZE = UINT64_MAX;

// The caller's say on a plan: check returns DAZ_OK to go on, or a daz_error
// that the conversion returns as it is, before anything is written. A null
// PlanCheck* takes every plan.
struct PlanCheck {
    int (*check)(void* context, const OutputPlan& plan) = nullptr;
    void* context = nullptr;
};

// DAZ_OK when check is null or takes plan.
inline int checkPlan(const PlanCheck* check, const OutputPlan& plan) {
    return check == nullptr ? DAZ_OK : check->check(check->context, plan);
}

} // namespace orvx
