// commands.h - the orvx command line (dispatch, -c and -r) and the runners
// every command shares: into daz (orvx -c, pngdaz) and back (dazbmp, dazpng).
#pragma once

#include "convert/result_codes.h"

#include <cstdint>

namespace orvx {

inline constexpr int STATUS_SUCCESS = 0;
inline constexpr int STATUS_FAILURE = -1; // the shell sees 255

// Before a command runs: a closed standard descriptor gets a placeholder, so
// that no file the command opens can take its place. (The signals are the
// command's own: its entry says so, see platform/entry.h.)
void startRun();

// The exit status once every message is out: failure when standard output
// could not take them all (a full device, a closed descriptor), whatever the
// command's own status. A command's output file stays in place.
int finishRun(int status);

// The whole run: picks the command from the argument vector, prints its
// outcome on standard output and returns the exit status.
int runOrvx(int argc, const char* const* argv);

// The colour count as "%hd" would read it: leading blanks, an optional sign,
// decimal digits, the rest ignored, 0 when there is no number. A value outside
// 16 bits is returned as it is (saturated to int), never wrapped, so that the
// conversion rejects it.
int parseColorCount(const char* text);

// The key as "%hx" reads it, 0 when there is no number.
std::uint16_t parseKey(const char* text);

void printUsage();

// The -r command: prints the colour count and key of a daz file.
int showDazInfo(const char* path);

// orvx -c: convertBmpToDaz with its optional count and key texts (null when
// absent); prints the undefined-pixel line and the success banner, or the
// error line with the message of the result's code and the usage text.
int runBitmapConversion(const char* source, const char* destination, const char* countText,
                        const char* keyText);

// A command that turns an image into a daz file with its indices kept, other
// than orvx -c: its call gives a daz_error and the count of undefined pixels.
struct ConversionCommand {
    int (*convert)(const char* source, const char* destination, int colors, std::uint16_t key,
                   std::uint64_t* undefined);
    const char* usage; // printed after the error line of a failure
    // The name of the source's format, for the lines that name it (null:
    // the command reads one format, whose lines name it already).
    const char* (*formatName)(const char* source);
};

// Runs such a conversion with its optional count and key texts and prints
// the outcome, as runBitmapConversion does; a failure's line names the
// source's format where the message does.
int runConversion(const ConversionCommand& command, const char* source, const char* destination,
                  const char* countText, const char* keyText);

// A command that turns a daz file back into an image: dazbmp, dazpng, on
// convertDazToBmp and convertDazToPng, which give a daz_error.
struct DecodingCommand {
    int (*decode)(const char* source, const char* destination, const PlanCheck* check);
    const char* (*message)(int error);
    const char* usage; // printed for a wrong number of arguments
};

// The whole run of such a command, IN OUT: one line on standard output, and
// the exit status.
int runDecoding(const DecodingCommand& command, int argc, const char* const* argv);

} // namespace orvx
