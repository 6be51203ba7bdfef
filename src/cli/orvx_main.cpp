#include "cli/commands.h"

int main(int argc, char** argv) {
    return runOrvx(argc, argv);
}
