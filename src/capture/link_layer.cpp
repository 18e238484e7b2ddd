// Reading the link headers: Ethernet and Linux cooked captures through their EtherType (with
// up to two VLAN tags), raw IP through its version, BSD loopback through its address family.
#include "capture/link_layer.h"

#include <pcap/dlt.h>

namespace tidewrack {

namespace {

enum EtherType : std::uint16_t {
    ipv4Type = 0x0800,
    arpType = 0x0806,
    ipv6Type = 0x86DD,
    vlanType = 0x8100,        // 802.1Q
    qinqType = 0x88A8,        // 802.1ad
    oldQinqType = 0x9100,     // the tag of QinQ before 802.1ad
    firstEtherType = 0x0600,  // smaller values of the field are 802.3 lengths
};

// Raw IP as OpenBSD numbers it (DLT_RAW is 12 elsewhere); libpcap passes the number through.
constexpr int openBsdRaw = 14;
static_assert(DLT_RAW != openBsdRaw);

constexpr int maximumTags = 2;
constexpr std::uint32_t tagLength = 4;  // tag control information, then the next EtherType

// The linux cooked headers: v1 is 16 bytes with the protocol last, v2 20 bytes with it first.
constexpr std::uint32_t cookedLength = 16, cookedProtocol = 14;
constexpr std::uint32_t cooked2Length = 20, cooked2Protocol = 0;
constexpr std::uint32_t ethernetType = 12, ethernetLength = 14;
constexpr std::uint32_t loopbackLength = 4;
// The protocol field of a cooked header that is not an EtherType: Novell 802.3 and 802.2 LLC.
constexpr std::uint16_t cookedNovell = 0x0001, cookedLlc = 0x0004;

// AF_INET everywhere; AF_INET6 of NetBSD and OpenBSD, FreeBSD, and Darwin. Linux's AF_INET6 (10)
// is no BSD family, and tshark does not read it as IPv6 either.
constexpr std::uint32_t familyIpv4 = 2;
constexpr std::uint32_t familiesIpv6[] = {24, 28, 30};
// A DLT_NULL "family" above the largest 802.3 length is an EtherType, as tshark reads it.
constexpr std::uint32_t largestLength = 1500;

bool isTag(std::uint16_t type) {
    return type == vlanType || type == qinqType || type == oldQinqType;
}

// The network header at `payload` that the EtherType `type` names.
LinkFrame byType(std::uint16_t type, std::uint32_t payload) {
    const NetworkKind kind = type == ipv4Type   ? NetworkKind::Ipv4
                             : type == ipv6Type ? NetworkKind::Ipv6
                             : type == arpType  ? NetworkKind::Arp
                                                : NetworkKind::EtherType;
    return {kind, payload, type, untagged};
}

// The network header after an EtherType field at `typeAt` whose payload starts at `payload`,
// past the tags that may come first.
LinkFrame byEtherType(const FrameBytes& frame, std::uint32_t typeAt, std::uint32_t payload,
                      bool lengthsAreLlc) {
    LinkFrame link;
    if (!frame.has(typeAt, 2)) {
        return link;
    }
    std::uint16_t type = frame.word(typeAt);
    for (int tags = 0; isTag(type) && tags < maximumTags; ++tags) {
        if (!frame.has(payload, tagLength)) {
            return link;
        }
        if (tags == 0) {
            link.vlan = frame.word(payload) & 0x0FFF;
        }
        type = frame.word(payload + 2);
        payload += tagLength;
    }
    // A length of 0 can frame no LLC header: it is taken as the (unassigned) EtherType 0, as
    // Wireshark takes it.
    if (lengthsAreLlc && type < firstEtherType && type != 0) {
        return {NetworkKind::Llc, payload, type, link.vlan};
    }
    const LinkFrame typed = byType(type, payload);
    return {typed.kind, typed.network, typed.value, link.vlan};
}

// `only` is the version the link type fixes, or 0 when the packet's own version tells.
LinkFrame byVersion(const FrameBytes& frame, std::uint32_t network, std::uint8_t only = 0) {
    LinkFrame link;
    link.network = network;
    if (!frame.has(network, 1)) {
        return link;
    }
    const std::uint8_t version = frame.byte(network) >> 4;
    if (version != 4 && version != 6) {
        link.kind = NetworkKind::NotIp;
    } else if (only != 0 && version != only) {
        link.kind = NetworkKind::OtherVersion;
    } else {
        link.kind = version == 4 ? NetworkKind::Ipv4 : NetworkKind::Ipv6;
    }
    return link;
}

// DLT_NULL's family is in the byte order of the host that captured, and some hosts wrote a 16-bit
// family in either half of the field. Read little-endian, as tshark reads it on the hosts it
// mostly runs on: a value in the upper half that looks like a small family is shifted down, any
// other is byte-swapped, and a lower half whose low byte is zero holds a family written
// big-endian in 16 bits.
std::uint32_t nullFamily(const FrameBytes& frame) {
    const std::uint32_t value = frame.byte(0) | frame.byte(1) << 8 |
                                std::uint32_t{frame.byte(2)} << 16 |
                                std::uint32_t{frame.byte(3)} << 24;
    if ((value & 0xFFFF0000u) != 0) {
        if ((value & 0xFF000000u) == 0 && (value & 0x00FF0000u) < 0x00060000u) {
            return value >> 16;
        }
        return (value >> 24) | (value >> 8 & 0xFF00u) | (value << 8 & 0xFF0000u) | (value << 24);
    }
    if ((value & 0xFFu) == 0 && (value & 0xFF00u) < 0x0600u) {
        return value >> 8;
    }
    return value;
}

LinkFrame byFamily(const FrameBytes& frame, bool networkOrder) {
    LinkFrame link;
    if (!frame.has(0, loopbackLength)) {
        return link;
    }
    const std::uint32_t family =
        networkOrder ? std::uint32_t{frame.word(0)} << 16 | frame.word(2) : nullFamily(frame);
    if (!networkOrder && family > largestLength) {
        return byType(static_cast<std::uint16_t>(family), loopbackLength);
    }
    link.network = loopbackLength;
    link.value = family;
    link.kind = NetworkKind::AddressFamily;
    if (family == familyIpv4) {
        link.kind = NetworkKind::Ipv4;
    }
    for (const std::uint32_t ipv6 : familiesIpv6) {
        if (family == ipv6) {
            link.kind = NetworkKind::Ipv6;
        }
    }
    return link;
}

}  // namespace

LinkType linkTypeOf(int dlt) {
    switch (dlt) {
    case DLT_EN10MB: return LinkType::Ethernet;
    case DLT_LINUX_SLL: return LinkType::LinuxCooked;
    case DLT_LINUX_SLL2: return LinkType::LinuxCooked2;
    case DLT_RAW:
    case openBsdRaw: return LinkType::RawIp;
    case DLT_IPV4: return LinkType::RawIpv4;
    case DLT_IPV6: return LinkType::RawIpv6;
    case DLT_NULL: return LinkType::BsdLoopback;
    case DLT_LOOP: return LinkType::BsdLoopbackNetworkOrder;
    default: return LinkType::Unsupported;
    }
}

LinkFrame readLinkLayer(LinkType type, const FrameBytes& frame) {
    switch (type) {
    case LinkType::Ethernet:
        return frame.has(0, ethernetLength) ? byEtherType(frame, ethernetType, ethernetLength, true)
                                            : LinkFrame{};
    case LinkType::LinuxCooked: {
        if (!frame.has(0, cookedLength)) {
            return {};
        }
        const std::uint16_t protocol = frame.word(cookedProtocol);
        if (protocol == cookedNovell || protocol == cookedLlc) {
            return {NetworkKind::Llc, cookedLength, protocol, untagged};
        }
        return byEtherType(frame, cookedProtocol, cookedLength, false);
    }
    case LinkType::LinuxCooked2:
        if (!frame.has(0, cooked2Length)) {
            return {};
        }
        if (const std::uint16_t protocol = frame.word(cooked2Protocol);
            protocol == cookedNovell || protocol == cookedLlc) {
            return {NetworkKind::Llc, cooked2Length, protocol, untagged};
        }
        return byEtherType(frame, cooked2Protocol, cooked2Length, false);
    case LinkType::RawIp: return byVersion(frame, 0);
    case LinkType::RawIpv4: return byVersion(frame, 0, 4);
    case LinkType::RawIpv6: return byVersion(frame, 0, 6);
    case LinkType::BsdLoopback: return byFamily(frame, false);
    case LinkType::BsdLoopbackNetworkOrder: return byFamily(frame, true);
    case LinkType::Unsupported: break;
    }
    return {};
}

}  // namespace tidewrack
