// The decoder, fed frames kept as inline byte arrays: one test per behaviour of the packet view,
// and what the connection record reads beyond it (transport_facts.h).
#include <gtest/gtest.h>

#include <vector>

#include "capture/decode.h"
#include "capture/transport_facts.h"

using namespace tidewrack;

namespace {

using Frame = std::vector<u_char>;

// Ethernet (EtherType IPv4) and a 20-byte IPv4 header from 192.168.1.10 to 10.0.0.1; the
// protocol byte is at offset 23.
Frame ipv4(u_char protocol) {
    return {
        2,    2,    2,    2,    2,    2,    4, 4, 4,  4,        4, 4, 0x08, 0x00,  // Ethernet
        0x45, 0x00, 0x00, 0x30, 0x00, 0x00, 0, 0, 64, protocol, 0, 0,              // IPv4, IHL 5
        192,  168,  1,    10,   10,   0,    0, 1,                                  // addresses
    };
}

Frame operator+(Frame frame, const Frame& more) {
    frame.insert(frame.end(), more.begin(), more.end());
    return frame;
}

// TCP header from port 80 to port 1025 with the given flags byte (offset 13).
Frame tcp(u_char flags) {
    return {0x00, 0x50, 0x04, 0x01, 0, 0, 0, 1, 0, 0, 0, 0, 0x50, flags, 0xFF, 0xFF, 0, 0, 0, 0};
}

Frame cut(Frame frame, std::size_t length) {
    frame.resize(length);
    return frame;
}

// A decoder with its view and clock, fed one frame at a time.
struct Decoder {
    PacketView view;
    LocalTimeText clock;
    pcap_pkthdr header{};
    Frame frame;

    const PacketView& decode(Frame bytes, long seconds = 1699970587, long microseconds = 42) {
        frame = std::move(bytes);
        header.ts.tv_sec = seconds;
        header.ts.tv_usec = microseconds;
        header.caplen = static_cast<bpf_u_int32>(frame.size());
        header.len = header.caplen + 100;
        decodePacket(view, clock, &header, frame.data());
        return view;
    }
};

class DecoderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    // The connection record's facts of the frame last decoded, read where the decoder found its
    // layers.
    PacketFacts facts() const {
        IpLayers layers;
        layers.network = ethernetHeaderLength;
        layers.transport = ethernetHeaderLength + decoder.view.ipHeaderLength;
        layers.protocol = decoder.view.protocol;
        PacketFacts out;
        readTransportFacts(FrameBytes(decoder.frame.data(), decoder.header.caplen),
                           decoder.header.len, layers, out);
        return out;
    }
    Decoder decoder;
};

// A TCP header from port 80 to port 1025 with sequence number 0x01020304, acknowledgement number
// 0x0A0B0C0D, window 0x1234 and the given flags.
Frame numberedTcp(u_char flags) {
    return {0x00, 0x50, 0x04, 0x01,  1,    2,    3, 4, 10, 11,
            12,   13,   0x50, flags, 0x12, 0x34, 0, 0, 0,  0};
}

}  // namespace

TEST_F(DecoderTest, TcpSegmentGivesAddressesPortsFlagsAndServices) {
    const PacketView& v = decoder.decode(ipv4(6) + tcp(0x12));
    EXPECT_EQ(v.packetCount, 1);
    EXPECT_TRUE(v.frameDecoded);
    EXPECT_EQ(Frame(v.sourceAddress, v.sourceAddress + 4), (Frame{192, 168, 1, 10}));
    EXPECT_EQ(Frame(v.destinationAddress, v.destinationAddress + 4), (Frame{10, 0, 0, 1}));
    EXPECT_EQ(v.ipHeaderLength, 20u);
    EXPECT_EQ(v.ipHeader, decoder.frame.data() + 14);
    EXPECT_EQ(v.transportHeader, decoder.frame.data() + 34);
    EXPECT_EQ(v.sourcePort, 80);
    EXPECT_EQ(v.destinationPort, 1025);
    EXPECT_STREQ(v.protocolName, "TCP");
    EXPECT_EQ(v.tcpFlags, 0x12);
    EXPECT_STREQ(v.tcpFlagsText, "SYN ACK ");
    EXPECT_STREQ(v.tcpService, "HTTP");       // by source port
    EXPECT_STREQ(v.udpService, "EPHEMERAL");  // by destination port, whatever the protocol
    EXPECT_EQ(v.protocolSeen[6], 1);
}

TEST_F(DecoderTest, HeaderLengthMovesTheTransportHeader) {
    Frame frame = ipv4(17) + Frame{0, 0, 0, 0} + Frame{0x0F, 0xA0, 0x00, 0xA1, 0, 8, 0, 0};
    frame[14] = 0x46;  // 24-byte header with options: ports 38 bytes in
    const PacketView& v = decoder.decode(frame);
    EXPECT_EQ(v.ipHeaderLength, 24u);
    EXPECT_EQ(v.sourcePort, 4000);
    EXPECT_EQ(v.destinationPort, 161);
    EXPECT_STREQ(v.udpService, "SNMP");
}

TEST_F(DecoderTest, TextsOfThePacketBeforeAreEmptied) {
    decoder.decode(ipv4(6) + tcp(0xFF));
    EXPECT_STREQ(decoder.view.tcpFlagsText, "FIN SYN RST PSH ACK URG ECE CWR ");
    decoder.decode(ipv4(1) + Frame{3, 3, 0xBE, 0xEF, 0, 0, 0, 0});
    EXPECT_STREQ(decoder.view.tcpFlagsText, "");
    EXPECT_STREQ(decoder.view.icmpCodeText, "Destination port unreachable");
    const PacketView& v = decoder.decode(ipv4(17) + Frame{0x14, 0xE9, 0x00, 0x35, 0, 8, 0, 0});
    EXPECT_STREQ(v.tcpFlagsText, "");
    EXPECT_STREQ(v.icmpTypeText, "");
    EXPECT_STREQ(v.icmpCodeText, "");
    EXPECT_STREQ(v.udpService, "DNS");
    EXPECT_EQ(v.packetCount, 3);
}

TEST_F(DecoderTest, IcmpTypeAndCodeAreThePortWords) {
    const PacketView& v = decoder.decode(ipv4(1) + Frame{8, 5, 0xBE, 0xEF, 0, 0, 0, 0});
    EXPECT_STREQ(v.icmpTypeText, "ECHO REQUEST");
    EXPECT_STREQ(v.icmpCodeText, "ECHO REQUEST");  // the code of an echo is not consulted
    EXPECT_EQ(v.sourcePort, 8 * 256 + 5);
    EXPECT_EQ(v.destinationPort, 0xBEEF);
}

TEST_F(DecoderTest, ProtocolNumbersAboveTheTableShareUnassigned) {
    EXPECT_STREQ(decoder.decode(ipv4(141)).protocolName, "UNASSIGNED");
    EXPECT_STREQ(decoder.decode(ipv4(200)).protocolName, "UNASSIGNED");
    EXPECT_STREQ(decoder.decode(ipv4(114)).protocolName, "Any");
    EXPECT_STREQ(decoder.decode(ipv4(136)).protocolName, "UDP");
    for (int p = 0; p < protocolTableSize; ++p) {
        EXPECT_EQ(decoder.view.protocolSeen[p], p == 141 || p == 114 || p == 136) << p;
    }
}

TEST_F(DecoderTest, FrameShortOfTheAddressesIsCountedNotDecoded) {
    const PacketView& v = decoder.decode(cut(ipv4(6) + tcp(0x12), 33));
    EXPECT_EQ(v.packetCount, 1);
    EXPECT_FALSE(v.frameDecoded);
    EXPECT_EQ(v.ipHeader, nullptr);
    EXPECT_STREQ(v.timeText, "14:03:07");
}

TEST_F(DecoderTest, FieldsNotCapturedReadAsZeroOrEmpty) {
    const PacketView& v = decoder.decode(cut(ipv4(6) + tcp(0x12), 34));
    EXPECT_TRUE(v.frameDecoded);
    EXPECT_EQ(v.sourcePort, 0);
    EXPECT_EQ(v.destinationPort, 0);
    EXPECT_EQ(decoder.decode(cut(ipv4(17) + tcp(0), 37)).sourcePort, 80);  // one port and a half
    EXPECT_EQ(decoder.view.destinationPort, 0);
    decoder.decode(cut(ipv4(6) + tcp(0x12), 47));  // the flags byte is the 48th
    EXPECT_EQ(decoder.view.tcpFlags, 0);
    EXPECT_STREQ(decoder.view.tcpFlagsText, "");
    decoder.decode(cut(ipv4(1) + Frame{3, 1, 0, 0}, 35));  // ICMP type without its code
    EXPECT_STREQ(decoder.view.icmpTypeText, "");
    EXPECT_EQ(decoder.view.sourcePort, 0);
}

TEST_F(DecoderTest, HeaderLengthPastTheFrameEndReadsNothingBeyondIt) {
    Frame frame = ipv4(17) + Frame(26, 0);
    frame[14] = 0x4F;  // 60-byte header: the transport header would start at 74, past the end
    const PacketView& v = decoder.decode(frame);
    EXPECT_EQ(v.ipHeaderLength, 60u);
    EXPECT_EQ(v.transportHeader, decoder.frame.data() + frame.size());
    EXPECT_EQ(v.sourcePort, 0);
    EXPECT_EQ(v.destinationPort, 0);
}

TEST_F(DecoderTest, TimeTextIsConvertedOncePerSecond) {
    decoder.decode(ipv4(6), 1700006399, 999999);  // 23:59:59 UTC
    EXPECT_STREQ(decoder.view.timeText, "23:59:59");
    ASSERT_NE(decoder.view.localTime, nullptr);
    EXPECT_EQ(decoder.view.localTime->tm_hour, 23);
    setenv("TZ", "Asia/Tokyo", 1);  // a conversion now would give another hour
    tzset();
    EXPECT_STREQ(decoder.decode(ipv4(6), 1700006399, 5).timeText, "23:59:59");
    EXPECT_STREQ(decoder.decode(ipv4(6), 1700006400, 0).timeText, "09:00:00");
    // A timestamp that has no local time.
    EXPECT_STREQ(decoder.decode(ipv4(6), 0x7FFFFFFFFFFFFFFF, 0).timeText, "--:--:--");
    EXPECT_EQ(decoder.view.localTime, nullptr);
}

TEST_F(DecoderTest, TransportFactsOfTcpCountThePayloadByTheIpLength) {
    // 8 bytes of payload (the IPv4 total length says 48), then 6 of Ethernet padding; the wire
    // length is 100 bytes more than was captured.
    decoder.decode(ipv4(6) + numberedTcp(0x18) + Frame(8, 0x61) + Frame(6, 0));
    PacketFacts f = facts();
    EXPECT_EQ(Frame(f.source, f.source + 16),
              (Frame{192, 168, 1, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Frame(f.destination, f.destination + 4), (Frame{10, 0, 0, 1}));
    EXPECT_TRUE(f.hasPorts);
    EXPECT_EQ(f.destinationPort, 1025);
    ASSERT_TRUE(f.tcpHeader);
    EXPECT_EQ(f.tcpFlags, 0x18);
    EXPECT_EQ(f.sequence, 0x01020304u);
    EXPECT_EQ(f.acknowledgement, 0x0A0B0C0Du);
    EXPECT_EQ(f.window, 0x1234);
    EXPECT_EQ(f.payloadLength, 8u);
    EXPECT_EQ(f.wireLength, decoder.header.len);
    // A total length of 0 (segmentation offload) leaves the rest of the frame on the wire.
    Frame offloaded = ipv4(6) + numberedTcp(0x10) + Frame(10, 0x61);
    offloaded[16] = offloaded[17] = 0;
    decoder.decode(offloaded);
    EXPECT_EQ(facts().payloadLength, 10u + 100);
    // A header length under 20 bytes is no TCP header the analysis can use.
    offloaded[46] = 0x20;
    decoder.decode(offloaded);
    EXPECT_FALSE(facts().tcpHeader);
}

TEST_F(DecoderTest, TransportFactsNotCapturedAreNotRead) {
    decoder.decode(cut(ipv4(6) + numberedTcp(0x10), 34 + 15));  // one byte short of the window
    EXPECT_FALSE(facts().tcpHeader);
    EXPECT_EQ(facts().sourcePort, 80);
    decoder.decode(cut(ipv4(17) + numberedTcp(0), 37));  // one port and a half
    EXPECT_FALSE(facts().hasPorts);
    decoder.decode(cut(ipv4(1) + Frame{3, 1, 0, 0}, 35));  // an ICMP type without its code
    EXPECT_FALSE(facts().icmpHeader);
    decoder.decode(ipv4(1) + Frame{3, 1, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(facts().icmpHeader);
    EXPECT_EQ(facts().icmpCode, 1);
}

TEST_F(DecoderTest, TransportFactsOfFragmentsAndAuthenticatedPackets) {
    // A fragment after the first carries payload, no upper-layer header.
    Frame later = ipv4(17) + Frame(28, 0x61);
    later[21] = 0xB9;  // fragment offset 185 (1480 bytes)
    decoder.decode(later);
    EXPECT_FALSE(facts().hasPorts);
    EXPECT_EQ(facts().payloadLength, 28u);
    // IPv4's authentication header (here 24 bytes) is stepped over to the TCP header behind it.
    Frame authenticated = ipv4(51) + Frame{6, 4} + Frame(22, 0) + numberedTcp(0x02);
    authenticated[17] = 20 + 24 + 20;
    decoder.decode(authenticated);
    const PacketFacts f = facts();
    EXPECT_EQ(f.protocol, 6);
    ASSERT_TRUE(f.tcpHeader);
    EXPECT_EQ(f.tcpFlags, 0x02);
    EXPECT_EQ(f.payloadLength, 0u);
}
