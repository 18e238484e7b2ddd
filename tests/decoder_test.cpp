// The decoder, fed frames kept as inline byte arrays: one test per behaviour of the packet view.
#include <gtest/gtest.h>

#include <vector>

#include "capture/decode.h"

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
    Decoder decoder;
};

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
