// Interrupting a capture: the first SIGINT or SIGTERM asks the running capture to stop at the
// next packet boundary, so the run still finishes its report, its database and its dump. The
// first signal restores the default action, so a second one ends the process at once.
#pragma once

#include <pcap/pcap.h>

namespace tidewrack {

// Installs the handlers for SIGINT and SIGTERM; a signal also breaks a read on `handle`.
// Returns 0, or 1 when a handler could not be installed (errno tells why).
int catchInterrupts(pcap_t* handle);

// True once an interrupt arrived.
bool captureInterrupted();

}  // namespace tidewrack
