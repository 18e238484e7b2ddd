// The interrupt handler only records the signal and breaks libpcap's read loop; it is installed
// without SA_RESTART so that the wait for a live packet returns at once. The handle it breaks
// is read inside the handler, so it is held in a lock-free atomic.
#include "capture/interrupt.h"

#include <atomic>
#include <csignal>

namespace tidewrack {

namespace {

volatile std::sig_atomic_t interrupted = 0;
std::atomic<pcap_t*> interruptedHandle{nullptr};
static_assert(std::atomic<pcap_t*>::is_always_lock_free, "read by a signal handler");

extern "C" void onInterrupt(int) {
    // Whichever of the two signals comes first, the next one takes its default action.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(SIGINT, &fallback, nullptr);
    sigaction(SIGTERM, &fallback, nullptr);
    interrupted = 1;
    if (pcap_t* handle = interruptedHandle.load(); handle != nullptr) {
        pcap_breakloop(handle);
    }
}

}  // namespace

int catchInterrupts(pcap_t* handle) {
    interruptedHandle = handle;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0
               ? 0
               : 1;
}

bool captureInterrupted() {
    return interrupted != 0;
}

}  // namespace tidewrack
