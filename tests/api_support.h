// Helpers for the tests of the library's conversion calls: a conversion
// through its file call and in memory, to compare.
#pragma once

#include "daz/daz.h"
#include "support.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using FromMemory = int (*)(const void*, size_t, int, uint16_t, void*, size_t, size_t*, uint64_t*);
using ToFile = int (*)(const char*, const char*, int, uint16_t, uint64_t*);

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
inline Outcome throughFile(ToFile call, const std::string& input, int colors, std::uint16_t key) {
    TempDir dir;
    Outcome outcome;
    outcome.error =
        call(input.c_str(), dir.file("out.daz").c_str(), colors, key, &outcome.undefined);
    if (fileExists(dir.file("out.daz"))) {
        outcome.daz = readFile(dir.file("out.daz"));
    }
    return outcome;
}

// In memory: the size asked first, then the file into a buffer of that size
// with a guard after it that must stay untouched.
inline Outcome inMemory(FromMemory call, const Bytes& input, int colors, std::uint16_t key) {
    Outcome outcome;
    size_t needed = 0;
    outcome.error = call(input.data(), input.size(), colors, key, nullptr, 0, &needed, nullptr);
    if (outcome.error != DAZ_OK) {
        return outcome;
    }
    constexpr std::size_t GUARD = 64;
    Bytes out(needed + GUARD, 0xA5);
    size_t written = 0;
    outcome.error = call(input.data(), input.size(), colors, key, out.data(), needed, &written,
                         &outcome.undefined);
    EXPECT_EQ(written, needed);
    EXPECT_EQ(Bytes(out.end() - GUARD, out.end()), Bytes(GUARD, 0xA5));
    out.resize(written);
    outcome.daz = out;
    return outcome;
}
