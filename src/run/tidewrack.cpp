// The entry point: one Core made from the command line, run once; its result is the exit status.
#include "run/core.h"

int main(int argc, char** argv) {
    tidewrack::Core core(argc, argv);
    return core.run();
}
