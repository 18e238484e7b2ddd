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

constexpr int maximumTags = 2;
constexpr std::uint32_t tagLength = 4;  // tag control information, then the next EtherType

// The linux cooked headers: v1 is 16 bytes with the protocol last, v2 20 bytes with it first.
constexpr std::uint32_t cookedLength = 16, cookedProtocol = 14;
constexpr std::uint32_t cooked2Length = 20, cooked2Protocol = 0;
constexpr std::uint32_t ethernetType = 12, ethernetLength = 14;
constexpr std::uint32_t loopbackLength = 4;
// The protocol field of a cooked header that is not an EtherType: Novell 802.3 and 802.2 LLC.
constexpr std::uint16_t cookedNovell = 0x0001, cookedLlc = 0x0004;

// AF_INET everywhere; AF_INET6 of Linux, NetBSD and OpenBSD, FreeBSD, and Darwin.
constexpr std::uint32_t familyIpv4 = 2;
constexpr std::uint32_t familiesIpv6[] = {10, 24, 28, 30};

bool isTag(std::uint16_t type) {
    return type == vlanType || type == qinqType || type == oldQinqType;
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
    link.network = payload;
    link.value = type;
    // A length of 0 can frame no LLC header: it is taken as the (unassigned) EtherType 0, as
    // Wireshark takes it.
    if (lengthsAreLlc && type < firstEtherType && type != 0) {
        link.kind = NetworkKind::Llc;
    } else if (type == ipv4Type) {
        link.kind = NetworkKind::Ipv4;
    } else if (type == ipv6Type) {
        link.kind = NetworkKind::Ipv6;
    } else if (type == arpType) {
        link.kind = NetworkKind::Arp;
    } else {
        link.kind = NetworkKind::EtherType;
    }
    return link;
}

LinkFrame byVersion(const FrameBytes& frame, std::uint32_t network) {
    LinkFrame link;
    link.network = network;
    if (!frame.has(network, 1)) {
        return link;
    }
    const std::uint8_t version = frame.byte(network) >> 4;
    link.kind = version == 4   ? NetworkKind::Ipv4
                : version == 6 ? NetworkKind::Ipv6
                               : NetworkKind::NotIp;
    return link;
}

LinkFrame byFamily(const FrameBytes& frame, bool networkOrder) {
    LinkFrame link;
    if (!frame.has(0, loopbackLength)) {
        return link;
    }
    const std::uint32_t big = std::uint32_t{frame.word(0)} << 16 | frame.word(2);
    const std::uint32_t little =
        (big >> 24) | (big >> 8 & 0xFF00u) | (big << 8 & 0xFF0000u) | (big << 24);
    // DLT_NULL keeps the byte order of the host that captured: the order in which the family
    // is a small number is the right one.
    const std::uint32_t family = networkOrder || big <= 0xFFFF ? big : little;
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
    case DLT_IPV4:
    case DLT_IPV6: return LinkType::RawIp;
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
    case LinkType::BsdLoopback: return byFamily(frame, false);
    case LinkType::BsdLoopbackNetworkOrder: return byFamily(frame, true);
    case LinkType::Unsupported: break;
    }
    return {};
}

}  // namespace tidewrack
