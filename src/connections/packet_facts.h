// What the connection table learns of one analysed packet: a plain struct that the decoder
// fills and hands over, independent of the packet view.
//
// Addresses are in header order, an IPv4 address in the first 4 bytes (the rest zero). Ports
// are those of TCP, UDP and SCTP; for ICMP and ICMPv6 the type and code are kept apart, and the
// table maps them. `hasPorts` is false for a protocol without ports, for a fragment after the
// first (which carries no upper-layer header) and when the ports were not captured. The TCP
// fields are meaningful only when `tcpHeader` is true: the segment's header was captured up to
// its window and its header length is valid. Payload lengths count from the IP header's own
// length (the IPv4 total length, the IPv6 payload length), never from the frame's, which
// Ethernet pads.
#pragma once

#include <sys/time.h>

#include <cstdint>

namespace tidewrack {

struct PacketFacts {
    std::uint64_t frame = 0;  // the frame's number in the run, from 1
    timeval time{};
    std::uint32_t wireLength = 0;  // the frame's length on the wire
    std::uint8_t family = 4;       // 4 or 6
    std::uint8_t protocol = 0;     // the upper-layer protocol, after IPv6 extension headers
    std::uint8_t source[16] = {};
    std::uint8_t destination[16] = {};
    bool hasPorts = false;
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    std::uint32_t payloadLength = 0;  // bytes after the transport header (after the IP header
                                      // for a protocol the table does not know)
    std::uint32_t payloadOffset = 0;  // where they start in the frame (perhaps past its end)
    bool tcpHeader = false;
    std::uint8_t tcpFlags = 0;
    std::uint32_t sequence = 0;
    std::uint32_t acknowledgement = 0;
    std::uint16_t window = 0;  // as sent, unscaled
    bool icmpHeader = false;   // ICMP or ICMPv6 with its type and code captured
    std::uint8_t icmpType = 0;
    std::uint8_t icmpCode = 0;
};

}  // namespace tidewrack
