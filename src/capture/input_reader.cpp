// The reader of the open input: records as libpcap delivers them, the wait for a live
// adapter's packets up to the read time-out, the interrupt and the kernel's drop count.
#include "capture/input_reader.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "capture/interrupt.h"

namespace tidewrack {

namespace {

// What a read that delivered no packet means: a break or an error caused by an interrupt (a
// pipe read fails with EINTR) is the interrupt; otherwise an error, or the end of a trace.
ReadResult ended(int result) {
    if (captureInterrupted()) {
        return ReadResult::Interrupted;
    }
    return result == PCAP_ERROR ? ReadResult::Error : ReadResult::End;
}

timeval readDeadline() {
    timeval deadline{};
    gettimeofday(&deadline, nullptr);
    deadline.tv_sec += readTimeoutMs / 1000;
    return deadline;
}

}  // namespace

void InputReader::attach(pcap_t* newHandle, bool isLive, const char* name, char* errorBuffer) {
    handle = newHandle;
    live = isLive;
    classicTrace = !live && pcap_major_version(handle) == PCAP_VERSION_MAJOR;
    fd = -1;
    dropsBeforeFilter = 0;
    if (catchInterrupts(handle) != 0) {
        std::printf("PcapEngine: interrupts cannot be caught: %s\n", std::strerror(errno));
    }
    if (!live) {
        return;
    }
    if (pcap_setnonblock(handle, 1, errorBuffer) == 0) {
        fd = pcap_get_selectable_fd(handle);
    }
    if (fd < 0) {
        pcap_setnonblock(handle, 0, errorBuffer);
        std::printf("\nPcapEngine: adapter %s cannot be waited on; reading it blocking.\n", name);
    }
}

ReadResult InputReader::next(pcap_pkthdr** header, const u_char** data) {
    if (live && fd < 0) {
        return blockingRead(header, data);
    }
    for (;;) {
        if (captureInterrupted()) {
            return ReadResult::Interrupted;
        }
        const int result = pcap_next_ex(handle, header, data);
        if (result == 1) {
            if (classicTrace && (*header)->ts.tv_sec < 0) {
                (*header)->ts.tv_sec += std::time_t{1} << 32;
            }
            return ReadResult::Packet;
        }
        if (result != 0) {
            return ended(result);
        }
        if (!live) {
            return ReadResult::TimedOut;
        }
        // A live adapter with nothing to read: wait for its descriptor up to the read time-out.
        const timeval deadline = readDeadline();
        pollfd wait{fd, POLLIN, 0};
        const int ready = poll(&wait, 1, readTimeoutMs);
        if (ready == 0 && !captureInterrupted()) {
            return lateArrival(deadline, header, data);
        }
        if (ready < 0 && errno != EINTR) {
            return ReadResult::Error;
        }
    }
}

// A packet that came just before the read time-out ran out may still be on its way in a block:
// wait once more for as long as a block takes. A packet stamped before the deadline goes on
// with the capture; one stamped later came after the end, and the time-out stands.
ReadResult InputReader::lateArrival(const timeval& deadline, pcap_pkthdr** header,
                                    const u_char** data) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 2 * blockTimeoutMs) <= 0) {
        return ReadResult::TimedOut;
    }
    const int result = pcap_next_ex(handle, header, data);
    if (result == 1) {
        return timercmp(&(*header)->ts, &deadline, >) ? ReadResult::TimedOut : ReadResult::Packet;
    }
    return result == 0 ? ReadResult::TimedOut : ended(result);
}

// Without a descriptor, each blocking read returns after a block time-out at the latest; the
// read time-out is the sum of the empty ones.
ReadResult InputReader::blockingRead(pcap_pkthdr** header, const u_char** data) {
    const timeval deadline = readDeadline();
    for (;;) {
        if (captureInterrupted()) {
            return ReadResult::Interrupted;
        }
        const int result = pcap_next_ex(handle, header, data);
        if (result == 1) {
            return ReadResult::Packet;
        }
        if (result != 0) {
            return ended(result);
        }
        timeval now{};
        gettimeofday(&now, nullptr);
        if (!timercmp(&now, &deadline, <)) {
            return ReadResult::TimedOut;
        }
    }
}

void InputReader::filterInstalled() {
    // Until the filter is in place an adapter takes every packet, and the run sequence may
    // spend a while creating the database meanwhile: packets the kernel drops then were never
    // wanted, and only drops from here on are reported.
    pcap_stat stats{};
    if (live && pcap_stats(handle, &stats) == 0) {
        dropsBeforeFilter = stats.ps_drop;
    }
}

void InputReader::reportDrops() const {
    pcap_stat stats{};
    if (live && pcap_stats(handle, &stats) == 0 && stats.ps_drop != dropsBeforeFilter) {
        std::printf("PcapEngine: %u packets dropped by the kernel.\n",
                    stats.ps_drop - dropsBeforeFilter);
    }
}

bool InputReader::kernelCounts(unsigned& received, unsigned& dropped) const {
    pcap_stat stats{};
    if (!live || pcap_stats(handle, &stats) != 0) {
        return false;
    }
    received = stats.ps_recv;
    dropped = stats.ps_drop;
    return true;
}

}  // namespace tidewrack
