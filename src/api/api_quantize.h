// api_quantize.h - the options of colour reduction and mapping, checked and
// handed to the quantizer, for the calls that take them.
#pragma once

#include "daz/daz.h"
#include "quantize/quantize.h"

namespace orvx {

// Checks options (null: the defaults) for a reduction (entries 0: colors
// 2..256, a transparent index below colors) or a mapping onto entries
// palette entries (a transparent index below entries; colors not used), and
// fills out. DAZ_OK or DAZ_ERR_ARGUMENT: a dither that is no daz_dither, an
// index out of range, a reserved field not zero.
int takeQuantizeOptions(const daz_quantize_options* options, int entries, quantize::Options& out);

} // namespace orvx
