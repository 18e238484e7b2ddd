// The link layer of a frame, read before its network header is decoded: which link types the
// extended record reads, where in a frame the network header starts, what it carries, and the
// outer VLAN id when the frame is tagged.
//
// Ethernet frames may carry one or two 802.1Q or 802.1ad tags before their EtherType; Linux
// cooked captures (v1, and v2 as "-i any" gives) name the EtherType in their own header; raw IP
// frames start with the IP header, whose version the link type may fix; BSD loopback frames start
// with a four-byte address family (in the byte order of the host that captured them for
// DLT_NULL, read as tshark reads it, and in network order for DLT_LOOP).
// Every byte is read through FrameBytes, and nothing past the captured length.
#pragma once

#include <cstdint>

#include "capture/frame_bytes.h"

namespace tidewrack {

enum class LinkType : std::uint8_t {
    Ethernet,
    LinuxCooked,
    LinuxCooked2,
    RawIp,        // IPv4 or IPv6, told by the version
    RawIpv4,      // IPv4 only: a packet of another version is not analysed
    RawIpv6,      // IPv6 only
    BsdLoopback,  // address family in the capturing host's byte order
    BsdLoopbackNetworkOrder,
    Unsupported,
};

// The link type of a libpcap DLT value.
LinkType linkTypeOf(int dlt);

// What the network header of a frame is.
enum class NetworkKind : std::uint8_t {
    Ipv4,
    Ipv6,
    Arp,
    EtherType,      // another EtherType, in `value`
    Llc,            // an IEEE 802.3 frame: a length where the EtherType would be
    AddressFamily,  // a BSD loopback family that is not IP, in `value`
    NotIp,          // a raw IP frame whose version is neither 4 nor 6
    OtherVersion,   // an IP packet of the version that its raw IP link type rules out
    TooShort,       // the link header, or a tag, was not captured whole
};

inline constexpr std::int32_t untagged = -1;

struct LinkFrame {
    NetworkKind kind = NetworkKind::TooShort;
    std::uint32_t network = 0;     // where the network header starts
    std::uint32_t value = 0;       // the EtherType or address family, for the kinds that name one
    std::int32_t vlan = untagged;  // the outer VLAN id, when the frame is tagged
};

// Reads the link header of one captured frame.
LinkFrame readLinkLayer(LinkType type, const FrameBytes& frame);

}  // namespace tidewrack
