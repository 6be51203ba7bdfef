// gif_format.h - GIF in the formats table (reader.h), through giflib: the
// first frame, its indices and colour table kept (gif_indices.cpp) or shown
// as RGBA (gif_rgba.cpp), and a daz image written as a GIF (gif_export.cpp).
// How the frame is placed: gif_source.h.
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader GIF_READER;

// The steps of GIF_READER, as reader.h describes them.
int openGifIndices(std::FILE* source, const IndexRequest& request, const PlanCheck* check,
                   ReaderState& state);
int writeGifIndices(ReaderState& state, const DazOutput& out, std::uint64_t* undefined);
int readGifRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);
int openGifExport(std::FILE* daz, const PlanCheck* check, ReaderState& state);
int writeGifExport(ReaderState& state, std::FILE* out);

} // namespace orvx
