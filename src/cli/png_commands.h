// png_commands.h - the pngdaz and dazpng command lines.
#pragma once

namespace orvx {

// pngdaz origine.png destinazione [colore] [chiave]: as orvx -c, from an
// indexed PNG. Returns the exit status.
int runPngdaz(int argc, const char* const* argv);

// dazpng immagine.daz destinazione.png: as dazbmp, to an indexed PNG.
int runDazpng(int argc, const char* const* argv);

} // namespace orvx
