#include "cli/png_commands.h"

int main(int argc, char** argv) {
    return runPngdaz(argc, argv);
}
