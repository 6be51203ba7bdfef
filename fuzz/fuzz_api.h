// Fuzz inputs through libdaz's calls in memory. Shared by the libFuzzer
// targets and the regression test that replays saved inputs. Each aborts
// when a call breaks its own rules; the sanitizers catch a read past the
// input, which is given in a buffer of exactly its size.
#pragma once

#include <cstddef>
#include <cstdint>

// daz_inspect on the input: an error code from the table, or a header whose
// parts add up to the input's size.
void fuzzApiInspectOne(const std::uint8_t* data, std::size_t size);

// daz_decode and daz_decode_rgba on the input, under small limits: the same
// verdict from both, and on success every pixel's colour is its index's
// palette entry (or the colour for an index past the palette).
void fuzzApiDecodeOne(const std::uint8_t* data, std::size_t size);

// Input: width (1 byte), rows (1 byte), bits (4 if the low bit is set,
// else 8; rows stored top-down, a negative height, if the next one is), entries (1 byte), kept
// colours (1 byte), key (2 bytes), then the indices. daz_encode then daz_decode gives the indices
// back, and the count of undefined pixels is the count of indices past the kept palette.
void fuzzApiRoundTripOne(const std::uint8_t* data, std::size_t size);

// Any image through daz_load_rgba, daz_load_palette and, when small,
// daz_reduce to 16 colours, under small limits: known codes, the size the
// query gave, and a reduced file of at most 16 entries and the image's size.
void fuzzApiRgbaOne(const std::uint8_t* data, std::size_t size);
