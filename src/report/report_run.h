// A run of tidewrack-report: the command line read, every database checked, then read in
// turn into one tally, and the report written as the options ask. Returns the exit status:
// 0 done, 1 refused or failed (a one-line message on standard error), 2 a wrong command line.
#pragma once

namespace tidewrack::report {

int runReport(int argc, char** argv);

}  // namespace tidewrack::report
