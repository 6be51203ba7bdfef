// pam_format.h - netpbm's PAM ("P7") in the formats table (reader.h).
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader PAM_READER;

} // namespace orvx
