// dazbmp_command.h - the dazbmp command line: IN.daz OUT.bmp.
#pragma once

namespace orvx {

// The whole run: prints one line on standard output and returns the exit
// status, STATUS_SUCCESS or STATUS_FAILURE.
int runDazbmp(int argc, const char* const* argv);

} // namespace orvx
