// Interrupting a capture. The first SIGINT, SIGTERM or SIGHUP (the terminal went away), or a
// SIGPIPE (the reader of the console output went away), asks the running capture to stop at the
// next packet boundary, so the run still finishes its report, its database and its dump. The
// first signal restores the default action of SIGINT, SIGTERM and SIGHUP, so a second one ends
// the process at once; a broken pipe is ignored from then on, since the console text that
// follows would raise it again. A signal that was ignored when the program started (as in a
// background job) stays ignored.
#pragma once

#include <pcap/pcap.h>

namespace tidewrack {

// Installs the handlers; a signal also breaks a read on `handle`. Returns 0, or 1 when a
// handler could not be installed (errno tells why).
//
// Calls interrupted by the signal go on where they were (SA_RESTART): a console write waiting
// for a full pipe must not fail because of it. A read of a trace from a pipe, which would go on
// waiting for data, is ended instead: the first signal puts /dev/null in place of the trace's
// descriptor, so that the read, restarted, meets the end of the input.
int catchInterrupts(pcap_t* handle);

// True once an interrupt arrived.
bool captureInterrupted();

}  // namespace tidewrack
