// texts.h - every text the tool prints, byte for byte.
#pragma once

namespace orvx {

extern const char* const USAGE_TEXT;
extern const char* const SUCCESS_BANNER;
extern const char* const ERROR_LINE_FORMAT;     // takes a result message
extern const char* const UNDEFINED_LINE_FORMAT; // takes the count as long long
extern const char* const INSPECT_OPEN_FAILED;
extern const char* const INSPECT_READ_FAILED;
extern const char* const INSPECT_NOT_DAZ;
extern const char* const INSPECT_VALUES_FORMAT; // takes colour count (short), key (unsigned short)

// The message of orvx -c for one of its result codes (-1..-7): the table
// of seven, in code order.
const char* resultMessage(long long code);

// The message of pngdaz and the other conversions into daz for a
// daz_error: each input names its own kind of file.
const char* conversionMessage(int error);

// Room for a line made for one format.
struct MessageText {
    char bytes[160];
};

// As conversionMessage, and for the errors every format shares (a damaged
// file, one without a palette) the line naming formatName ("GIF"), made in
// text; with formatName null, the line without it.
const char* formatMessage(int error, const char* formatName, MessageText& text);

// dazbmp.
extern const char* const DAZBMP_USAGE_TEXT;

// The messages of dazbmp and dazpng for a daz_error: the same but where they
// name the image written.
const char* bmpWritingMessage(int error);
const char* pngWritingMessage(int error);

// imgdaz.
extern const char* const IMGDAZ_USAGE_TEXT;

// pngdaz and dazpng.
extern const char* const PNGDAZ_USAGE_TEXT;
extern const char* const DAZPNG_USAGE_TEXT;

// dazgif.
extern const char* const DAZGIF_USAGE_TEXT;
const char* gifWritingMessage(int error);

// rgbdaz.
extern const char* const RGBDAZ_USAGE_TEXT;
extern const char* const RGBDAZ_PALETTE_LINE_FORMAT; // takes the palette's failure message

// rgbdaz's message for a daz_error: its inputs are images of any kind
// (formatName as for formatMessage), and the lines of its own options.
const char* reductionMessage(int error, const char* formatName, MessageText& text);

// What rgbdaz reports of its options, beside the library's errors.
enum class RgbdazFault { INDEX, BACKGROUND };
const char* rgbdazFaultMessage(RgbdazFault fault);

} // namespace orvx
