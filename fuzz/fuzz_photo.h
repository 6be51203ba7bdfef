// One fuzz input through a photo reader (JPEG, WebP, HEIF/AVIF) as the
// driver calls it: over a stream on the bytes, with small limits. Aborts
// when the reader breaks its rules: a result outside the table, a size read
// alone that the whole read doesn't give, pixels that aren't 4 x width x
// height bytes, pixels left by a failure.
#pragma once

#include "convert/reader.h"

#include <cstddef>
#include <cstdint>

void fuzzPhotoOne(const orvx::FormatReader& reader, const std::uint8_t* data, std::size_t size);
