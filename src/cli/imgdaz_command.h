// imgdaz_command.h - the imgdaz command line: an image with a palette, of
// any format the library converts with its indices kept (a bitmap, a PNG, a
// GIF, a TIFF, ...), into daz, as orvx -c and pngdaz convert theirs.
#pragma once

namespace orvx {

// imgdaz origine destinazione [colore] [chiave]. Returns the exit status.
int runImgdaz(int argc, const char* const* argv);

// The name of the format the file at path holds ("GIF"), for the lines that
// name it: null when it can't be read or is of no known format.
const char* formatNameOf(const char* path);

} // namespace orvx
