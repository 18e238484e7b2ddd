// The entry point of tidewrack-report: one run, whose result is the exit status.
#include "report/report_run.h"

int main(int argc, char** argv) {
    return tidewrack::report::runReport(argc, argv);
}
