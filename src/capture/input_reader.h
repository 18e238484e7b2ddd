// Reading the open input record by record: a trace file as libpcap delivers it, a live adapter
// as a live capture needs it.
//
// A trace file is read as libpcap delivers it. A live adapter is read without blocking and
// waited on with poll, because a blocking read on an idle Linux adapter never returns: the
// read time-out is kept here. The kernel hands packets over in blocks, a block at the latest a
// block time-out after its first packet arrived, so when the wait runs out a packet may still
// be on its way; it is waited for once more, and counts when it was stamped before the
// deadline. An adapter that offers no descriptor to wait on is read with blocking reads, each
// returning after a block time-out, until the read time-out has passed without a packet.
//
// A classic pcap file stores a record's seconds as an unsigned 32-bit number, which libpcap
// (1.10) widens with its sign: records after 2038-01-19 03:14:07 UTC would read as 1901. The
// reader takes such seconds as unsigned again.
//
// When it takes over a handle, the reader also hooks the interrupt signals to it (interrupt.h),
// so that an interrupt breaks a read at once; and it counts the packets the kernel dropped once
// the filter was in place.
#pragma once

#include <pcap/pcap.h>

#include <sys/time.h>

namespace tidewrack {

// A live capture ends when this long passes without a packet.
inline constexpr int readTimeoutMs = 1000;
static_assert(readTimeoutMs % 1000 == 0, "the deadline is counted in whole seconds");
// The kernel hands captured packets over in blocks, a block at the latest this long after its
// first packet arrived: the delay with which a live packet is seen.
inline constexpr int blockTimeoutMs = 50;

enum class ReadResult { Packet, TimedOut, Error, End, Interrupted };

class InputReader {
  public:
    // Takes over a newly opened handle, and hooks the interrupt signals to it: the first one
    // ends capture at the next packet boundary (standard output says so when they cannot be
    // caught). A live adapter is switched to non-blocking reads on its selectable descriptor;
    // when it has none, that is said on standard output (with `name`) and it is read blocking.
    void attach(pcap_t* handle, bool live, const char* name, char* errorBuffer);
    // The next record of the handle, into `header` and `data`.
    ReadResult next(pcap_pkthdr** header, const u_char** data);
    // Drops are counted from the moment the filter is in place.
    void filterInstalled();
    // Prints the drops of a live capture since the filter was installed, if any.
    void reportDrops() const;
    // The kernel's counts of packets received and dropped by a live adapter; false for a trace.
    bool kernelCounts(unsigned& received, unsigned& dropped) const;
    bool isLive() const { return live; }

  private:
    ReadResult waitForPacket(pcap_pkthdr** header, const u_char** data);
    ReadResult lateArrival(const timeval& deadline, pcap_pkthdr** header, const u_char** data);
    ReadResult blockingRead(pcap_pkthdr** header, const u_char** data);

    pcap_t* handle = nullptr;
    bool live = false;
    bool classicTrace = false;  // a pcap (not pcapng) file, whose seconds are unsigned
    int fd = -1;                // the live handle's selectable descriptor; -1 reads it blocking
    u_int dropsBeforeFilter = 0;
};

}  // namespace tidewrack
