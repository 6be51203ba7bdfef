#include "convert/result_codes.h"

#include <array>

namespace orvx {

namespace {

// The codes in order, ERR_READ (-1) first; the input's own two are filled in
// from its InputErrors.
constexpr std::array<int, 8> CONVERT_ERRORS{
    DAZ_ERR_READ,    DAZ_ERR_WRITE,    DAZ_ERR_OPEN,   DAZ_ERR_CREATE,
    DAZ_ERR_NOT_BMP, DAZ_ERR_BMP_BITS, DAZ_ERR_COLORS, DAZ_ERR_TOO_BIG_TO_HOLD,
};

static_assert(-ERR_TOO_BIG_TO_HOLD == CONVERT_ERRORS.size());

} // namespace

int dazErrorOf(ConvertResult result, const InputErrors& input, int refused) {
    if (result >= 0) {
        return DAZ_OK;
    }
    if (result == ERR_NOT_BMP) {
        return input.notThisFormat;
    }
    if (result == ERR_BAD_DEPTH) {
        return input.wrongKind;
    }
    if (result == ERR_REFUSED) {
        return refused;
    }
    const auto index = static_cast<std::size_t>(-(result + 1));
    return index < CONVERT_ERRORS.size() ? CONVERT_ERRORS.at(index) : DAZ_ERR_READ;
}

} // namespace orvx
