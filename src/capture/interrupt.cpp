// The interrupt handler only records the signal and breaks libpcap's read loop; it is installed
// without SA_RESTART so that the wait for a live packet returns at once.
#include "capture/interrupt.h"

#include <csignal>

namespace tidewrack {

namespace {

volatile std::sig_atomic_t interrupted = 0;
pcap_t* volatile interruptedHandle = nullptr;

extern "C" void onInterrupt(int) {
    // Whichever of the two signals comes first, the next one takes its default action.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(SIGINT, &fallback, nullptr);
    sigaction(SIGTERM, &fallback, nullptr);
    interrupted = 1;
    if (interruptedHandle != nullptr) {
        pcap_breakloop(interruptedHandle);
    }
}

}  // namespace

void catchInterrupts(pcap_t* handle) {
    interruptedHandle = handle;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool captureInterrupted() {
    return interrupted != 0;
}

}  // namespace tidewrack
