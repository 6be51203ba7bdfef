// The format readers (reader.h) fuzzed one at a time, in memory: shared by
// the libFuzzer targets fuzz_tiff and fuzz_netpbm and by the format tests,
// which replay fuzz/regressions/tiff and fuzz/regressions/netpbm.
#pragma once

#include <cstddef>
#include <cstdint>

// Input: a TIFF, read as RGBA and converted with its indices kept. Aborts on
// a result outside daz_error's list, pixels not of the size told, or a
// refusal that left pixels behind.
void fuzzTiffOne(const std::uint8_t* data, std::size_t size);

// Input: a PPM, PAM or PGM, read as RGBA by each of the three readers. The
// same rules.
void fuzzNetpbmOne(const std::uint8_t* data, std::size_t size);
