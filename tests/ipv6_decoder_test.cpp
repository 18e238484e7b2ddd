// The IPv6 decoder of the extended record and its address texts, fed packets kept as inline
// byte arrays: the upper-layer header behind extension headers, fragments, and header chains cut
// short; addresses written as tshark writes them.
#include <gtest/gtest.h>

#include <vector>

#include "capture/decode.h"
#include "capture/transport_facts.h"

using namespace tidewrack;

namespace {

using Frame = std::vector<u_char>;

Frame operator+(Frame frame, const Frame& more) {
    frame.insert(frame.end(), more.begin(), more.end());
    return frame;
}

// An IPv6 header (no link layer) with the given next header, from 2001:db8::1 to
// fe80::abcd:0:0:2.
Frame ipv6(u_char next) {
    return {0x60, 0,    0,    0,    0, 0, next, 64,  // version, next header
            0x20, 1,    0x0d, 0xb8, 0, 0, 0,    0,  0,    0,    0, 0, 0, 0, 0, 1,  // source
            0xfe, 0x80, 0,    0,    0, 0, 0,    0,  0xab, 0xcd, 0, 0, 0, 0, 0, 2};
}

// An extension header naming `next`, of 8 bytes (or the given length in 8-byte units past 1).
Frame extension(u_char next, u_char units = 0) {
    Frame header(8 + units * 8u, 0);
    header[0] = next;
    header[1] = units;
    return header;
}

Frame fragmentHeader(u_char next, std::uint16_t offset, bool more) {
    return {
        next, 0, static_cast<u_char>(offset >> 5), static_cast<u_char>(offset << 3 | more), 0, 0,
        0,    1};
}

const Frame tcpSyn = {0x04, 0x01, 0x01, 0xBB, 0, 0, 0, 1, 0, 0, 0, 0, 0x50, 0x02, 0xFF, 0xFF};

struct Decoder {
    PacketView view;
    LocalTimeText clock;
    pcap_pkthdr header{};
    Frame frame;
    bool decode(Frame bytes) {
        frame = std::move(bytes);
        header.ts.tv_sec = 1699970587;
        header.caplen = static_cast<bpf_u_int32>(frame.size());
        header.len = header.caplen;
        return decodeIpv6(view, clock, &header, frame.data(), 0);
    }
};

std::string text(std::initializer_list<int> bytes) {
    std::uint8_t address[16] = {};
    std::size_t i = 0;
    for (int b : bytes) {
        address[i++] = static_cast<std::uint8_t>(b);
    }
    char out[ipv6TextSize];
    formatIpv6(address, out);
    return out;
}

}  // namespace

TEST(Ipv6Decoder, AddressesProtocolPortsAndFlagsOfTheUpperLayer) {
    Decoder d;
    ASSERT_TRUE(d.decode(ipv6(6) + tcpSyn));
    EXPECT_STREQ(d.view.sourceText, "2001:db8::1");
    EXPECT_STREQ(d.view.destinationText, "fe80::abcd:0:0:2");
    EXPECT_STREQ(d.view.protocolName, "TCP");
    EXPECT_EQ(d.view.sourcePort, 1025);
    EXPECT_EQ(d.view.destinationPort, 443);
    EXPECT_STREQ(d.view.tcpFlagsText, "SYN ");
    EXPECT_TRUE(d.view.ipv6);
    EXPECT_EQ(d.view.protocolSeen[6], 0);  // the classic tables are IPv4's alone
    // ICMPv6 type and code are the first word, as ICMP's are.
    ASSERT_TRUE(d.decode(ipv6(58) + Frame{135, 0, 0x12, 0x34}));
    EXPECT_STREQ(d.view.protocolName, "IPv6-ICMP");
    EXPECT_EQ(d.view.sourcePort, 135 * 256);
    EXPECT_EQ(d.view.destinationPort, 0x1234);
    EXPECT_STREQ(d.view.tcpFlagsText, "");
}

TEST(Ipv6Decoder, ExtensionHeadersAreWalkedToTheUpperLayer) {
    Decoder d;
    // Hop-by-hop, destination options of 16 bytes, routing, authentication (24 bytes), TCP.
    Frame ah = {6, 4, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1};
    ah.resize(24);
    ASSERT_TRUE(d.decode(ipv6(0) + extension(60) + extension(43, 1) + extension(51) + ah + tcpSyn));
    EXPECT_STREQ(d.view.protocolName, "TCP");
    EXPECT_EQ(d.view.destinationPort, 443);
    EXPECT_EQ(d.view.ipHeaderLength, 40u + 8 + 16 + 8 + 24);
    // The first fragment gives its ports; a later one has none, and names its next header.
    ASSERT_TRUE(d.decode(ipv6(44) + fragmentHeader(6, 0, true) + tcpSyn));
    EXPECT_EQ(d.view.sourcePort, 1025);
    ASSERT_TRUE(d.decode(ipv6(44) + fragmentHeader(17, 185, false) + tcpSyn));
    EXPECT_STREQ(d.view.protocolName, "UDP");
    EXPECT_EQ(d.view.sourcePort, 0);
    EXPECT_EQ(d.view.destinationPort, 0);
    // Nothing after the headers: no ports, as for IPv4.
    ASSERT_TRUE(d.decode(ipv6(59)));
    EXPECT_STREQ(d.view.protocolName, "IPv6-NoNxt");
    EXPECT_EQ(d.view.sourcePort, 0);
}

// The connection record's facts behind the extension headers: addresses whole, the payload by
// the IPv6 payload length, and no upper-layer header in a fragment after the first.
TEST(Ipv6Decoder, TransportFactsBehindTheExtensionHeaders) {
    Decoder d;
    const auto facts = [&](bool upperLayer) {
        IpLayers layers{6, 0, d.view.ipHeaderLength, d.view.protocol, upperLayer};
        PacketFacts out;
        readTransportFacts(FrameBytes(d.frame.data(), d.header.caplen), d.header.len, layers, out);
        return out;
    };
    Frame packet = ipv6(0) + extension(17) + Frame{0x04, 0x01, 0x00, 0x35, 0, 13, 0, 0} +
                   Frame(5, 0x61) + Frame(3, 0);  // 5 bytes of DNS, 3 bytes of padding
    packet[5] = 8 + 8 + 5;                        // the payload length
    ASSERT_TRUE(d.decode(packet));
    PacketFacts f = facts(true);
    EXPECT_EQ(Frame(f.source, f.source + 16), Frame(packet.begin() + 8, packet.begin() + 24));
    EXPECT_EQ(f.destination[15], 2);
    EXPECT_EQ(f.destinationPort, 53);
    EXPECT_EQ(f.payloadLength, 5u);
    ASSERT_TRUE(d.decode(ipv6(44) + fragmentHeader(6, 185, false) + tcpSyn));
    f = facts(false);
    EXPECT_FALSE(f.hasPorts);
    EXPECT_FALSE(f.tcpHeader);
    EXPECT_EQ(f.payloadLength, tcpSyn.size());  // a payload length of 0: the rest of the frame
}

TEST(Ipv6Decoder, ChainsCutShortAreMalformedAndReadNothingPastTheEnd) {
    Decoder d;
    const Frame whole = ipv6(60) + extension(6, 2) + tcpSyn;
    for (std::size_t length = 0; length < 40 + 8 + 16; ++length) {
        EXPECT_FALSE(d.decode(Frame(whole.begin(), whole.begin() + static_cast<long>(length))))
            << length;
    }
    EXPECT_TRUE(d.decode(Frame(whole.begin(), whole.begin() + 40 + 24)));  // the TCP header cut
    EXPECT_EQ(d.view.sourcePort, 0);
    // A chain of any length is followed to its upper layer: 300 headers of padding, as a sender
    // may put in front of every packet, still give the TCP segment behind them.
    Frame chain = ipv6(60);
    for (int i = 0; i < 300; ++i) {
        chain = chain + extension(i + 1 < 300 ? 60 : 6);
    }
    ASSERT_TRUE(d.decode(chain + tcpSyn));
    EXPECT_STREQ(d.view.protocolName, "TCP");
    EXPECT_EQ(d.view.destinationPort, 443);
    EXPECT_FALSE(d.decode(Frame(chain.begin(), chain.end() - 1)));
}

TEST(Ipv6Text, AsTsharkWritesThem) {
    EXPECT_EQ(text({}), "::");
    EXPECT_EQ(text({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), "::1");
    EXPECT_EQ(text({0x20, 1, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}), "2001:db8:0:1::1");
    // The first of two equal runs, and a single zero group kept.
    EXPECT_EQ(text({0x20, 1, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}), "2001:db8::1:0:0:1");
    EXPECT_EQ(text({0x20, 1, 0x0d, 0xb8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}),
              "2001:db8:0:1:1:1:1:1");
    EXPECT_EQ(text({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0xab, 0xcd, 0, 0, 0, 0, 0, 0}),
              "fe80::abcd:0:0:0");
    // IPv4-mapped and -compatible addresses end dotted; others with an IPv4 tail do not.
    EXPECT_EQ(text({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 1}), "::ffff:192.0.2.1");
    EXPECT_EQ(text({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 192, 0, 2, 1}), "::192.0.2.1");
    EXPECT_EQ(text({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34}), "::1234");
    EXPECT_EQ(text({0, 0x64, 0xff, 0x9b, 0, 0, 0, 0, 0, 0, 0, 0, 192, 0, 2, 33}),
              "64:ff9b::c000:221");
    EXPECT_EQ(text({0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 192, 0, 2, 1}), "::ffff:0:c000:201");
    EXPECT_EQ(text({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                    0xff, 0xff, 0xff}),
              "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
}
