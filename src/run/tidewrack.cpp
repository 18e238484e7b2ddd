// The entry point: one Core made from the command line, run once; its result is the exit
// status, unless the console text could not be written.
#include "run/core.h"
#include "run/process_setup.h"

int main(int argc, char** argv) {
    tidewrack::prepareProcess();
    int status;
    {
        tidewrack::Core core(argc, argv);
        status = core.run();
    }
    return tidewrack::finishStandardOutput(status);
}
