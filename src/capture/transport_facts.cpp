// Reading a packet's addresses, lengths and transport fields for the connection table.
#include "capture/transport_facts.h"

#include <algorithm>
#include <cstring>

namespace tidewrack {

namespace {

// IPv4 and IPv6 header fields.
constexpr std::uint32_t ipv4TotalLengthOffset = 2, ipv4FragmentOffset = 6, ipv4SourceOffset = 12,
                        ipv4DestinationOffset = 16, ipv4AddressesEnd = 20;
constexpr std::uint32_t ipv6PayloadLengthOffset = 4, ipv6SourceOffset = 8,
                        ipv6DestinationOffset = 24, ipv6HeaderLength = 40;
constexpr std::uint8_t ipv4Authentication = 51;
// TCP header fields, and the bytes through the window: what the analysis needs.
constexpr std::uint32_t tcpSequenceOffset = 4, tcpAcknowledgementOffset = 8,
                        tcpDataOffsetOffset = 12, tcpFlagsOffset = 13, tcpWindowOffset = 14;
constexpr std::uint32_t tcpAnalysedLength = 16, tcpMinimumHeaderLength = 20;
// The fixed headers after which UDP's, ICMP's and SCTP's payload starts.
constexpr std::uint32_t udpHeaderLength = 8, icmpHeaderLength = 8, sctpHeaderLength = 12;

// Big-endian words of a header copied out of the frame.
template <std::size_t N>
std::uint16_t word(const std::uint8_t (&header)[N], std::uint32_t offset) {
    return static_cast<std::uint16_t>(header[offset] << 8 | header[offset + 1]);
}
template <std::size_t N>
std::uint32_t longWord(const std::uint8_t (&header)[N], std::uint32_t offset) {
    return static_cast<std::uint32_t>(word(header, offset)) << 16 | word(header, offset + 2);
}

std::uint32_t after(std::uint32_t end, std::uint64_t start) {
    return end > start ? static_cast<std::uint32_t>(end - start) : 0;
}

}  // namespace

void readTransportFacts(const FrameBytes& frame, std::uint32_t wireLength, const IpLayers& layers,
                        PacketFacts& facts) {
    facts.wireLength = wireLength;
    facts.family = layers.family;
    facts.protocol = layers.protocol;
    // Where the IP packet ends in the frame, by its own length (the IPv4 total length, the IPv6
    // payload length), at most the frame's length on the wire; a length of 0 (segmentation
    // offload, an IPv6 jumbogram) stands for the rest of the frame.
    std::uint64_t end = wireLength;
    bool upperLayer = layers.upperLayer;
    if (layers.family == 6) {
        std::uint8_t ip[ipv6HeaderLength];
        frame.copy(layers.network, ip);
        std::memcpy(facts.source, ip + ipv6SourceOffset, 16);
        std::memcpy(facts.destination, ip + ipv6DestinationOffset, 16);
        if (const std::uint16_t payload = word(ip, ipv6PayloadLengthOffset); payload != 0) {
            end = std::uint64_t{layers.network} + ipv6HeaderLength + payload;
        }
    } else {
        std::uint8_t ip[ipv4AddressesEnd];
        frame.copy(layers.network, ip);
        std::memset(facts.source, 0, sizeof facts.source);
        std::memset(facts.destination, 0, sizeof facts.destination);
        std::memcpy(facts.source, ip + ipv4SourceOffset, 4);
        std::memcpy(facts.destination, ip + ipv4DestinationOffset, 4);
        if (const std::uint16_t total = word(ip, ipv4TotalLengthOffset); total != 0) {
            end = std::uint64_t{layers.network} + total;
        }
        upperLayer = (word(ip, ipv4FragmentOffset) & 0x1FFFu) == 0;
    }
    const auto ipEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(end, wireLength));

    std::uint32_t at = layers.transport;
    if (layers.family == 4 && layers.protocol == ipv4Authentication && upperLayer &&
        frame.has(at, 2)) {
        // IPv4's authentication header is stepped over, as IPv6's extension headers are.
        facts.protocol = frame.byte(at);
        at += (frame.byte(at + 1) + 2u) * 4;
    }
    const std::uint8_t protocol = upperLayer ? facts.protocol : 0;

    // The transport header's first bytes, as far as they were captured: all that the analysis
    // reads of TCP, the ports of UDP and SCTP, ICMP's type and code.
    std::uint8_t header[tcpAnalysedLength] = {};
    std::uint32_t captured = 0;
    if (frame.has(at, tcpAnalysedLength)) {
        frame.copy(at, header);
        captured = tcpAnalysedLength;
    } else if (frame.has(at, 4)) {
        std::uint8_t ports[4];
        frame.copy(at, ports);
        std::memcpy(header, ports, sizeof ports);
        captured = 4;
    } else if (frame.has(at, 2)) {
        std::uint8_t typeAndCode[2];
        frame.copy(at, typeAndCode);
        std::memcpy(header, typeAndCode, sizeof typeAndCode);
        captured = 2;
    }
    facts.hasPorts = (protocol == 6 || protocol == 17 || protocol == 132) && captured >= 4;
    facts.sourcePort = facts.hasPorts ? word(header, 0) : 0;
    facts.destinationPort = facts.hasPorts ? word(header, 2) : 0;
    const std::uint32_t tcpHeaderLength = (header[tcpDataOffsetOffset] >> 4) * 4u;
    facts.tcpHeader =
        protocol == 6 && captured == tcpAnalysedLength && tcpHeaderLength >= tcpMinimumHeaderLength;
    facts.tcpFlags = facts.tcpHeader ? header[tcpFlagsOffset] : 0;
    facts.sequence = facts.tcpHeader ? longWord(header, tcpSequenceOffset) : 0;
    facts.acknowledgement = facts.tcpHeader ? longWord(header, tcpAcknowledgementOffset) : 0;
    facts.window = facts.tcpHeader ? word(header, tcpWindowOffset) : 0;
    facts.icmpHeader = (protocol == 1 || protocol == 58) && captured >= 2;
    facts.icmpType = facts.icmpHeader ? header[0] : 0;
    facts.icmpCode = facts.icmpHeader ? header[1] : 0;

    std::uint64_t payload = at;
    switch (protocol) {
    case 6: payload += tcpHeaderLength; break;
    case 17:
    case 136: payload += udpHeaderLength; break;
    case 1:
    case 58: payload += icmpHeaderLength; break;
    case 132: payload += sctpHeaderLength; break;
    default: break;
    }
    facts.payloadLength = after(ipEnd, payload);
    facts.payloadOffset = static_cast<std::uint32_t>(std::min<std::uint64_t>(payload, UINT32_MAX));
}

}  // namespace tidewrack
