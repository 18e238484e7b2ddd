// The interrupt handler only records the signal, settles what further signals do, breaks
// libpcap's read loop and ends a read waiting on a trace's pipe. The wait for a live packet is a
// poll, which returns at the signal whatever SA_RESTART says. What the handler reads is held in
// lock-free atomics.
#include "capture/interrupt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace tidewrack {

namespace {

constexpr int stoppingSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t interrupted = 0;
std::atomic<pcap_t*> interruptedHandle{nullptr};
static_assert(std::atomic<pcap_t*>::is_always_lock_free, "read by a signal handler");
// The descriptor of a trace read from a pipe (or anything else a read may wait on), and one of
// /dev/null to put in its place; -1 when there is none.
std::atomic<int> waitingInput{-1};
std::atomic<int> endOfInput{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read by a signal handler");

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
    if (const int input = waitingInput.load(), end = endOfInput.load(); input >= 0 && end >= 0) {
        dup2(end, input);
    }
}

}  // namespace

int catchInterrupts(pcap_t* handle) {
    interruptedHandle = handle;
    // A regular file never keeps a read waiting; a pipe, a FIFO or a terminal may.
    std::FILE* trace = handle != nullptr ? pcap_file(handle) : nullptr;
    struct stat input {};
    if (trace != nullptr && fstat(fileno(trace), &input) == 0 && !S_ISREG(input.st_mode)) {
        if (endOfInput.load() < 0) {
            endOfInput = open("/dev/null", O_RDONLY | O_CLOEXEC);
        }
        waitingInput = fileno(trace);
    }
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
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
