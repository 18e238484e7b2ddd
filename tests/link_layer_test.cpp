// The link layer of the extended record, fed frames kept as inline byte arrays: where the network
// header starts, what it carries and the outer VLAN id, for every link type read, and frames cut
// anywhere in their link header.
#include <gtest/gtest.h>
#include <pcap/dlt.h>

#include <algorithm>
#include <vector>

#include "capture/link_layer.h"

using namespace tidewrack;

namespace {

using Frame = std::vector<u_char>;

LinkFrame read(LinkType type, const Frame& frame) {
    return readLinkLayer(type, FrameBytes(frame.data(), static_cast<std::uint32_t>(frame.size())));
}

// Ethernet addresses, then the given EtherType field (and whatever follows), then a payload
// byte of IPv4 (version 4, header length 5).
Frame ethernet(const Frame& typeAndTags) {
    Frame frame(12 + typeAndTags.size() + 1, 0xAA);
    std::copy(typeAndTags.begin(), typeAndTags.end(), frame.begin() + 12);
    frame.back() = 0x45;
    return frame;
}

void expectLink(const LinkFrame& link, NetworkKind kind, std::uint32_t network,
                std::int32_t vlan = untagged) {
    EXPECT_EQ(link.kind, kind);
    EXPECT_EQ(link.network, network);
    EXPECT_EQ(link.vlan, vlan);
}

}  // namespace

TEST(LinkLayer, EthernetWithNoneOneOrTwoVlanTags) {
    expectLink(read(LinkType::Ethernet, ethernet({0x08, 0x00})), NetworkKind::Ipv4, 14);
    // 802.1Q, VLAN 123 (priority bits set, which are not the id).
    expectLink(read(LinkType::Ethernet, ethernet({0x81, 0x00, 0xE0, 0x7B, 0x08, 0x00})),
               NetworkKind::Ipv4, 18, 123);
    // 802.1ad outside 802.1Q: the outer id counts.
    expectLink(read(LinkType::Ethernet,
                    ethernet({0x88, 0xA8, 0x00, 0x0A, 0x81, 0x00, 0x00, 0x14, 0x86, 0xDD})),
               NetworkKind::Ipv6, 22, 10);
    // A third tag is another EtherType, named by its number.
    const LinkFrame third =
        read(LinkType::Ethernet,
             ethernet({0x91, 0x00, 0x0F, 0xFF, 0x81, 0x00, 0, 2, 0x81, 0x00, 0, 3, 8, 0}));
    expectLink(third, NetworkKind::EtherType, 22, 4095);
    EXPECT_EQ(third.value, 0x8100u);
}

TEST(LinkLayer, EthernetKindsBesidesIp) {
    expectLink(read(LinkType::Ethernet, ethernet({0x08, 0x06})), NetworkKind::Arp, 14);
    const LinkFrame lldp = read(LinkType::Ethernet, ethernet({0x88, 0xCC}));
    expectLink(lldp, NetworkKind::EtherType, 14);
    EXPECT_EQ(lldp.value, 0x88CCu);
    // A length (802.3), also behind a tag.
    expectLink(read(LinkType::Ethernet, ethernet({0x00, 0x26})), NetworkKind::Llc, 14);
    expectLink(read(LinkType::Ethernet, ethernet({0x81, 0x00, 0x00, 0x05, 0x05, 0xDC})),
               NetworkKind::Llc, 18, 5);
}

TEST(LinkLayer, CutHeadersAreTooShortAndNothingBeyondIsRead) {
    const Frame tagged = ethernet({0x81, 0x00, 0x00, 0x07, 0x08, 0x00});
    for (std::size_t length = 0; length < 18; ++length) {
        const Frame cut(tagged.begin(), tagged.begin() + static_cast<long>(length));
        EXPECT_EQ(read(LinkType::Ethernet, cut).kind, NetworkKind::TooShort) << length;
    }
    EXPECT_EQ(read(LinkType::Ethernet, Frame(tagged.begin(), tagged.begin() + 18)).kind,
              NetworkKind::Ipv4);
    for (const LinkType type :
         {LinkType::LinuxCooked, LinkType::LinuxCooked2, LinkType::RawIp, LinkType::BsdLoopback}) {
        EXPECT_EQ(read(type, {}).kind, NetworkKind::TooShort);
    }
}

TEST(LinkLayer, LinuxCookedCaptures) {
    // v1: packet type, ARPHRD_ETHER, address length 6, address padded to 8, protocol.
    Frame v1 = {0, 0, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x08, 0x00, 0x45};
    expectLink(read(LinkType::LinuxCooked, v1), NetworkKind::Ipv4, 16);
    v1[14] = 0x00;
    v1[15] = 0x04;  // 802.2 LLC
    expectLink(read(LinkType::LinuxCooked, v1), NetworkKind::Llc, 16);
    // v2: protocol, reserved, interface index, ARPHRD, packet type, address length, address.
    const Frame v2 = {0x86, 0xDD, 0, 0, 0, 0, 0, 2, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x60};
    expectLink(read(LinkType::LinuxCooked2, v2), NetworkKind::Ipv6, 20);
    const Frame v2tagged = {0x81, 0x00, 0, 0, 0, 0, 0, 2, 0, 1, 0, 6,   1,
                            2,    3,    4, 5, 6, 0, 0, 0, 9, 8, 0, 0x45};
    expectLink(read(LinkType::LinuxCooked2, v2tagged), NetworkKind::Ipv4, 24, 9);
}

TEST(LinkLayer, RawIpAndBsdLoopback) {
    expectLink(read(LinkType::RawIp, {0x45, 0}), NetworkKind::Ipv4, 0);
    expectLink(read(LinkType::RawIp, {0x60, 0}), NetworkKind::Ipv6, 0);
    expectLink(read(LinkType::RawIp, {0x50, 0}), NetworkKind::NotIp, 0);
    // DLT_NULL in either byte order of the capturing host; DLT_LOOP in network order.
    expectLink(read(LinkType::BsdLoopback, {2, 0, 0, 0, 0x45}), NetworkKind::Ipv4, 4);
    expectLink(read(LinkType::BsdLoopback, {0, 0, 0, 30, 0x60}), NetworkKind::Ipv6, 4);
    expectLink(read(LinkType::BsdLoopback, {24, 0, 0, 0, 0x60}), NetworkKind::Ipv6, 4);
    expectLink(read(LinkType::BsdLoopbackNetworkOrder, {0, 0, 0, 28, 0x60}), NetworkKind::Ipv6, 4);
    const LinkFrame other = read(LinkType::BsdLoopbackNetworkOrder, {0, 0, 0, 7});
    expectLink(other, NetworkKind::AddressFamily, 4);
    EXPECT_EQ(other.value, 7u);
    EXPECT_EQ(linkTypeOf(DLT_EN10MB), LinkType::Ethernet);
    EXPECT_EQ(linkTypeOf(DLT_LINUX_SLL2), LinkType::LinuxCooked2);
    EXPECT_EQ(linkTypeOf(DLT_IEEE802_11), LinkType::Unsupported);
}
