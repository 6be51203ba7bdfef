// One fuzz input through the whole conversion or the inspection command.
// Shared by the libFuzzer targets and the regression test that replays saved
// inputs without libFuzzer.
#pragma once

#include <cstddef>
#include <cstdint>

// Input: 2 bytes of colour count (signed, little-endian), 2 bytes of key,
// then the bitmap. Aborts if the conversion breaks its own rules: a code
// outside the table, or a daz file left behind by a failure.
void fuzzConvertOne(const std::uint8_t* data, std::size_t size);

// Input: as for fuzzConvertOne, with a PNG for pngdaz.
void fuzzPngdazOne(const std::uint8_t* data, std::size_t size);

// Input: the daz file given to dazpng. The same rules as for dazbmp.
void fuzzDazpngOne(const std::uint8_t* data, std::size_t size);

// Input: the file given to -r. Aborts on a status other than 0 or -1.
void fuzzInspectOne(const std::uint8_t* data, std::size_t size);

// Input: the daz file given to dazbmp. Aborts on a code outside the table, or
// a bitmap left behind by a failure.
void fuzzDazbmpOne(const std::uint8_t* data, std::size_t size);

// Input: a GIF, through the GIF reader's every step (fuzz_gif.cpp). Aborts
// on a result outside its errors.
void fuzzGifOne(const std::uint8_t* data, std::size_t size);

// Removes the process's working folder, once no more inputs will come.
void fuzzRemoveWorkDir();
