// gif_commands.h - dazgif, the daz image back into a GIF.
#pragma once

namespace orvx {

int runDazgif(int argc, const char* const* argv);

} // namespace orvx
