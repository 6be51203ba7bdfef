// rgbdaz_command.h - the rgbdaz command line: any image into daz, its
// colours reduced or mapped onto the palette of another image.
#pragma once

namespace orvx {

// rgbdaz [-d] [-p tavolozza] [-t indice] [-s rrggbb] origine destinazione
// [colori] [chiave]. Returns the exit status.
int runRgbdaz(int argc, const char* const* argv);

} // namespace orvx
