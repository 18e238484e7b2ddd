// The facts of a packet that the connection table needs beyond what the packet view holds: the
// addresses in binary, the payload length by the IP header's own length, TCP's sequence and
// acknowledgement numbers, window and header length, and ICMP's type and code.
//
// The decoder has already found the IP header, the upper-layer header (after IPv6's extension
// headers) and its protocol; this reads the rest through FrameBytes, so nothing is read past
// the captured length and nothing is allocated. An IPv4 authentication header (AH) is stepped
// over as IPv6's is: the protocol is the one after it, as the Community ID takes it. A field that
// was not captured leaves its "captured" flag false (tcpHeader, icmpHeader, hasPorts) rather than
// reading as zero.
#pragma once

#include <cstdint>

#include "capture/frame_bytes.h"
#include "connections/packet_facts.h"

namespace tidewrack {

// Where the decoder found a packet's layers, as offsets into the frame.
struct IpLayers {
    std::uint8_t family = 4;      // 4 or 6
    std::uint32_t network = 0;    // the IP header
    std::uint32_t transport = 0;  // the upper-layer header
    std::uint8_t protocol = 0;    // the upper-layer protocol
    bool upperLayer = true;       // false for an IPv6 fragment after the first (IPv4's own
                                  // fragment offset is read here)
};

// Fills everything in `facts` but the frame number and time.
void readTransportFacts(const FrameBytes& frame, std::uint32_t wireLength, const IpLayers& layers,
                        PacketFacts& facts);

}  // namespace tidewrack
