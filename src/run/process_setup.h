// What the process makes sure of before it opens anything, and checks when it ends.
//
// A program started with standard input, output or error closed would get that descriptor for
// the first file it opens, and then write its console text into the dump or the database; the
// three are therefore opened on /dev/null when they are closed. A file size limit (ulimit -f)
// would kill the process with SIGXFSZ in the middle of a write; with the signal ignored the
// write fails instead, and the run reports it. At the end, console text that could not be
// written is reported on standard error, with the reason of the first write that failed, and
// fails the run.
#pragma once

#include <cerrno>
#include <cstdio>

namespace tidewrack {

// Opens descriptors 0, 1 and 2 on /dev/null where they are closed, and ignores SIGXFSZ.
void prepareProcess();

// The reason (errno) of the first write to standard output seen to fail; 0 while none has.
inline int firstOutputError = 0;

// Notes the reason of a failed write to standard output, while errno still holds it: called
// right after console output, it costs one test of the stream's error flag.
inline void noteOutputError() {
    if (firstOutputError == 0 && ferror_unlocked(stdout) != 0) {
        firstOutputError = errno != 0 ? errno : EIO;
    }
}

// Flushes standard output; when anything written to it was lost, says so on standard error and
// returns 1, otherwise `status`.
int finishStandardOutput(int status);

}  // namespace tidewrack
