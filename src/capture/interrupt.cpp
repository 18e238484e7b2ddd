// The interrupt handler only records the signal, settles what further signals do, and breaks
// libpcap's read loop; it is installed without SA_RESTART so that the wait for a live packet
// returns at once. The handle it breaks is read inside the handler, so it is held in a
// lock-free atomic.
#include "capture/interrupt.h"

#include <atomic>
#include <csignal>

namespace tidewrack {

namespace {

constexpr int stoppingSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t interrupted = 0;
std::atomic<pcap_t*> interruptedHandle{nullptr};
static_assert(std::atomic<pcap_t*>::is_always_lock_free, "read by a signal handler");

bool ignored(int signal) {
    struct sigaction current {};
    return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void setAction(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

extern "C" void onInterrupt(int) {
    // Whichever signal comes first, the next stopping signal takes its default action.
    for (int signal : stoppingSignals) {
        if (!ignored(signal)) {
            setAction(signal, SIG_DFL);
        }
    }
    setAction(SIGPIPE, SIG_IGN);
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
    int result = 0;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        if (!ignored(signal) && sigaction(signal, &action, nullptr) != 0) {
            result = 1;
        }
    }
    return result;
}

bool captureInterrupted() {
    return interrupted != 0;
}

}  // namespace tidewrack
