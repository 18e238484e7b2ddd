// The packet view: what the program knows of the current packet, as the decoder leaves it.
//
// The run control reads it directly between two fetches of a packet. header and packetData are
// libpcap's storage and stay valid only until the next fetch; protocolName, tcpService and
// udpService point at constant texts; the other texts are copies in fixed buffers.
// packetCount and protocolSeen accumulate over the whole run; every other field describes the
// current packet only.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <ctime>

#include "capture/ipv6_text.h"
#include "capture/local_time_text.h"
#include "vocabulary/icmp_texts.h"
#include "vocabulary/protocol_names.h"
#include "vocabulary/tcp_flags.h"

namespace tidewrack {

// Bytes of a frame needed before anything is decoded: the Ethernet header and the IPv4 header
// up to the end of the destination address.
inline constexpr std::uint32_t ethernetHeaderLength = 14;
inline constexpr std::uint32_t minimumDecodedLength = ethernetHeaderLength + 20;

struct PacketView {
    std::int32_t packetCount = 0;        // packets fetched so far: the current one's number
    std::int32_t packetsAnalysed = 0;    // packets capture() returned so far: all of them, but
                                         // for the frames the extended record does not analyse
    const std::tm* localTime = nullptr;  // null when the timestamp has no local time
    char timeText[timeTextSize] = {};    // "hh:mm:ss", or "--:--:--" without a local time
    std::time_t captureSeconds = 0;
    const pcap_pkthdr* header = nullptr;
    const u_char* packetData = nullptr;
    // A frame shorter than minimumDecodedLength is counted but not decoded: frameDecoded is then
    // false, and the fields from here on keep what the packet before left in them (the
    // pointers are null).
    bool frameDecoded = false;
    const u_char* ipHeader = nullptr;         // where the IP header starts in packetData
    const u_char* transportHeader = nullptr;  // ipHeader + ipHeaderLength, at most the frame end
    std::uint32_t ipHeaderLength = 0;
    std::uint8_t sourceAddress[4] = {};       // IPv4 bytes 12 to 15, in header order
    std::uint8_t destinationAddress[4] = {};  // IPv4 bytes 16 to 19
    std::uint8_t protocol = 0;                // IPv4 byte 9
    std::uint16_t sourcePort = 0;             // the first two words after the IPv4 header,
    std::uint16_t destinationPort = 0;        // whatever the protocol; 0 when not captured
    std::uint8_t tcpFlags = 0;                // TCP flags byte; 0 when not captured or not TCP
    char tcpFlagsText[tcpFlagsTextSize] = {};
    const char* protocolName = nullptr;
    const char* tcpService = nullptr;  // by source port, for every protocol
    const char* udpService = nullptr;  // by destination port, for every protocol
    char icmpTypeText[icmpTypeTextSize] = {};
    char icmpCodeText[icmpCodeTextSize] = {};
    std::uint8_t protocolSeen[protocolTableSize] = {};  // flag n: protocol n (0 to 141) was seen
    // The extended record's IPv6 packets: their addresses are the texts below (the IPv4 address
    // fields keep what the packet before left), and their protocol is the upper-layer header
    // after the extension headers. protocolSeen is not touched: the classic tables are IPv4's.
    bool ipv6 = false;
    bool upperLayer = true;  // false for a fragment after the first, which carries none
    char sourceText[ipv6TextSize] = {};
    char destinationText[ipv6TextSize] = {};
};

}  // namespace tidewrack
