// texts.h - every text the tool prints, byte for byte.
#pragma once

#include "convert/daz_to_bmp.h"
#include "convert/result_codes.h"

namespace orvx {

extern const char* const USAGE_TEXT;
extern const char* const SUCCESS_BANNER;
extern const char* const ERROR_LINE_FORMAT;     // takes a result message
extern const char* const UNDEFINED_LINE_FORMAT; // takes the count as long long
extern const char* const INSPECT_OPEN_FAILED;
extern const char* const INSPECT_READ_FAILED;
extern const char* const INSPECT_NOT_DAZ;
extern const char* const INSPECT_VALUES_FORMAT; // takes colour count (short), key (unsigned short)

// The message for a negative result code, ERR_READ to ERR_BAD_COLORS.
const char* resultMessage(ConvertResult code);

// dazbmp.
extern const char* const DAZBMP_USAGE_TEXT;

// The message for a negative dazbmp code, DECODE_ERR_OPEN to DECODE_ERR_WRITE.
const char* decodeMessage(DecodeResult code);

// pngdaz and dazpng: the messages of orvx -c and dazbmp, but where those name
// a BMP; and pngdaz's own for ERR_TOO_BIG_TO_HOLD.
extern const char* const PNGDAZ_USAGE_TEXT;
extern const char* const DAZPNG_USAGE_TEXT;
const char* pngResultMessage(ConvertResult code);
const char* dazpngMessage(DecodeResult code);

} // namespace orvx
