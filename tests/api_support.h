// Helpers for the tests of the library's conversion calls: a conversion
// through its file call and in memory, to compare.
#pragma once

#include "convert/bmp_to_daz.h"
#include "convert/png/png_indices.h"
#include "convert/result_codes.h"
#include "daz/daz.h"
#include "support.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

// A conversion file to file, giving a daz_error and the count.
using ToFile = std::function<int(const char*, const char*, int, uint16_t, uint64_t*)>;

// orvx -c's own conversion, its result as the library names it: the
// command's seven codes are the library's errors in that order.
inline int bitmapCommand(const char* in, const char* out, int colors, uint16_t key,
                         uint64_t* undefined) {
    const orvx::ConvertResult result = orvx::convertBmpToDaz(in, out, colors, key);
    if (result >= 0) {
        *undefined = static_cast<std::uint64_t>(result);
        return DAZ_OK;
    }
    constexpr int ERRORS[] = {DAZ_ERR_READ,    DAZ_ERR_WRITE,    DAZ_ERR_OPEN,  DAZ_ERR_CREATE,
                              DAZ_ERR_NOT_BMP, DAZ_ERR_BMP_BITS, DAZ_ERR_COLORS};
    return ERRORS[-result - 1];
}

// Limits that take anything, as the commands do.
inline constexpr daz_limits UNLIMITED{UINT32_MAX, UINT32_MAX, UINT64_MAX, UINT64_MAX};

// daz_convert_file with no limits.
inline int convertFileUnlimited(const char* in, const char* out, int colors, uint16_t key,
                                uint64_t* undefined) {
    return daz_convert_file(in, out, &UNLIMITED, colors, key, undefined);
}

struct Outcome {
    int error = DAZ_OK;
    Bytes daz;
    std::uint64_t undefined = 0;
    bool operator==(const Outcome&) const = default;
};

inline void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << "error " << outcome.error << ", " << outcome.daz.size() << " bytes, "
         << outcome.undefined << " undefined";
}

// The call's file, as the commands write it.
inline Outcome throughFile(const ToFile& call, const std::string& input, int colors,
                           std::uint16_t key) {
    TempDir dir;
    Outcome outcome;
    outcome.error =
        call(input.c_str(), dir.file("out.daz").c_str(), colors, key, &outcome.undefined);
    if (fileExists(dir.file("out.daz"))) {
        outcome.daz = readFile(dir.file("out.daz"));
    }
    return outcome;
}

// What the command for the input's format writes (orvx -c for a bitmap,
// pngdaz for a PNG), or DAZ_ERR_FORMAT when no command takes it.
inline Outcome throughCommand(const Bytes& input, const std::string& path, int colors,
                              std::uint16_t key) {
    switch (daz_guess_format(input.data(), input.size())) {
    case DAZ_FORMAT_BMP:
        return throughFile(bitmapCommand, path, colors, key);
    case DAZ_FORMAT_PNG:
        return throughFile(
            [](const char* in, const char* out, int colors, uint16_t key, uint64_t* undefined) {
                return orvx::convertPngToDaz(in, out, colors, key, undefined);
            },
            path, colors, key);
    default: {
        Outcome none;
        none.error = DAZ_ERR_FORMAT;
        return none;
    }
    }
}

// daz_convert in memory, with no limits: the size asked first, then the file into a buffer
// of that size with a guard after it that must stay untouched.
inline Outcome inMemory(const Bytes& input, int colors, std::uint16_t key) {
    Outcome outcome;
    size_t needed = 0;
    outcome.error = daz_convert(input.data(), input.size(), &UNLIMITED, colors, key, nullptr, 0,
                                &needed, nullptr);
    if (outcome.error != DAZ_OK) {
        return outcome;
    }
    constexpr std::size_t GUARD = 64;
    Bytes out(needed + GUARD, 0xA5);
    size_t written = 0;
    outcome.error = daz_convert(input.data(), input.size(), nullptr, colors, key, out.data(),
                                needed, &written, &outcome.undefined);
    EXPECT_EQ(written, needed);
    EXPECT_EQ(Bytes(out.end() - GUARD, out.end()), Bytes(GUARD, 0xA5));
    out.resize(written);
    outcome.daz = out;
    return outcome;
}
