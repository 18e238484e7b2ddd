// PcapEngine::capture: fetch the next packet and decode it into the packet view.
//
// Every frame is taken as Ethernet carrying IPv4: the IPv4 header starts 14 bytes in, the
// transport header follows it at the header length it declares. Nothing in the frame is
// validated, but nothing is read past the captured length either: a frame shorter than the
// IPv4 addresses is counted and not decoded, and a port, flags byte or ICMP type/code that was
// not captured reads as 0 or an empty text. The per-packet path allocates nothing and compares
// no text: names come by index or binary search from constant tables.
#include <poll.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/PcapEngine.h"
#include "capture/interrupt.h"
#include "capture/service_tables.h"

namespace tidewrack {

namespace {

// Copies a constant text into a decoder buffer; the tables' compile-time checks keep every
// text shorter than its buffer.
template <std::size_t N>
void copyText(char (&buffer)[N], std::string_view text) {
    const std::size_t n = text.size() < N ? text.size() : N - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

}  // namespace

int PcapEngine::nextRecord() {
    for (;;) {
        if (captureInterrupted()) {
            std::fputs("PcapEngine: packet capture interrupted.\n", stdout);
            return PCAP_ERROR_BREAK;
        }
        const int result = pcap_next_ex(handle, const_cast<pcap_pkthdr**>(&header), &packetData);
        if (result != 0 || !live) {
            // A read broken off by the interrupt (a pipe read fails with EINTR) is reported as
            // the interrupt, at the top of the loop.
            if ((result == PCAP_ERROR_BREAK || result == PCAP_ERROR) && captureInterrupted()) {
                continue;
            }
            return result;
        }
        // Live adapter with nothing to read: wait for the descriptor up to the read time-out.
        timeval deadline{};
        gettimeofday(&deadline, nullptr);
        deadline.tv_sec += readTimeoutMs / 1000;
        pollfd wait{liveFd, POLLIN, 0};
        const int ready = poll(&wait, 1, readTimeoutMs);
        if (ready == 0 && !captureInterrupted()) {
            return lateArrival(deadline);
        }
        if (ready < 0 && errno != EINTR) {
            return PCAP_ERROR;
        }
    }
}

// The kernel hands packets over in blocks, each at most a block time-out after its first
// packet arrived, so a packet that came just before the read time-out ran out may still be on
// its way. Wait that long once more: a packet stamped before the deadline goes on with the
// capture; one stamped later came after the end, and the time-out stands.
int PcapEngine::lateArrival(const timeval& deadline) {
    pollfd wait{liveFd, POLLIN, 0};
    if (poll(&wait, 1, 2 * blockTimeoutMs) <= 0) {
        return 0;
    }
    const int result = pcap_next_ex(handle, const_cast<pcap_pkthdr**>(&header), &packetData);
    return result == 1 && timercmp(&header->ts, &deadline, >) ? 0 : result;
}

int PcapEngine::capture() {
    switch (nextRecord()) {
    case 1: decode(); return 0;
    case 0: std::fputs("PcapEngine: packet capture timeout elapsed.\n", stdout); return 1;
    case PCAP_ERROR:
        std::printf("PcapEngine: error reading packets: %s\n", pcap_geterr(handle));
        return 1;
    default:  // end of the trace file, or an interrupt already reported
        return 1;
    }
}

void PcapEngine::convertTime() {
    captureSeconds = header->ts.tv_sec;
    if (timeConverted && captureSeconds == convertedSeconds) {
        return;  // same second as the packet before: the text stands
    }
    timeConverted = true;
    convertedSeconds = captureSeconds;
    localTime = localtime_r(&captureSeconds, &localTimeStorage);
    if (localTime == nullptr ||
        std::strftime(timeText, sizeof timeText, "%H:%M:%S", localTime) == 0) {
        copyText(timeText, "--:--:--");
    }
}

void PcapEngine::decode() {
    ++packetCount;
    convertTime();
    frameDecoded = header->caplen >= minimumDecodedLength;
    if (!frameDecoded) {
        ipHeader = transportHeader = nullptr;
        if (verbose) {
            std::printf("%d: %s.%.6d ", packetCount, timeText,
                        static_cast<int>(header->ts.tv_usec));
            std::printf("truncated frame (%u bytes)\n", header->caplen);
        }
        return;
    }
    ipHeader = packetData + ethernetHeaderLength;
    ipHeaderLength = (ipHeader[0] & 0x0Fu) * 4;
    const std::uint32_t transport = ethernetHeaderLength + ipHeaderLength;
    transportHeader = packetData + (frameHas(transport, 0) ? transport : header->caplen);
    sourcePort = frameWord(transport);
    destinationPort = frameWord(transport + 2);
    tcpFlagsText[0] = icmpTypeText[0] = icmpCodeText[0] = '\0';
    tcpFlags = 0;

    protocol = ipHeader[9];
    if (protocol < protocolTableSize) {
        protocolSeen[protocol] = 1;
    }
    protocolName = decoderProtocolName(protocol);
    if (protocol == 6 && frameHas(transport + 13, 1)) {
        tcpFlags = packetData[transport + 13];
        // The whole entry, terminator and zero fill included: a copy of fixed size is a couple
        // of moves, where one of the text's own length is a library call.
        static_assert(sizeof TcpFlagsText::text <= sizeof tcpFlagsText);
        std::memcpy(tcpFlagsText, TcpFlagsTexts[tcpFlags].text, sizeof TcpFlagsText::text);
    } else if (protocol == 1 && frameHas(transport, 2)) {
        const IcmpTexts texts = icmpTexts(packetData[transport], packetData[transport + 1]);
        copyText(icmpTypeText, texts.type);
        copyText(icmpCodeText, texts.code);
    }
    tcpService = tcpServiceName(sourcePort);
    udpService = udpServiceName(destinationPort);
    if (verbose) {
        printPacketLine();
    }
}

void PcapEngine::printPacketLine() const {
    std::printf("%d: %s.%.6d ", packetCount, timeText, static_cast<int>(header->ts.tv_usec));
    std::printf("%s %d.%d.%d.%d:%d  ->  %d.%d.%d.%d:%d\n", protocolName, ipHeader[12], ipHeader[13],
                ipHeader[14], ipHeader[15], sourcePort, ipHeader[16], ipHeader[17], ipHeader[18],
                ipHeader[19], destinationPort);
}

}  // namespace tidewrack
