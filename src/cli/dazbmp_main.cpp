#include "cli/dazbmp_command.h"

int main(int argc, char** argv) {
    return runDazbmp(argc, argv);
}
