// Decoding: the verbose packet line byte for byte, and the packet view's texts and services,
// on frames built byte by byte and written with libpcap's dump API.
#include <gtest/gtest.h>

#include "capture/PcapEngine.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace tracekit;

namespace {

constexpr long at140307 = 1699970587;  // 2023-11-14 14:03:07 UTC
constexpr long at235959 = 1700006399;  // 2023-11-14 23:59:59 UTC

Bytes cut(Bytes frame, std::size_t length) {
    frame.resize(length);
    return frame;
}

// One frame of each kind the decoder tells apart, in order.
std::vector<Record> decoderCases() {
    const Address a{192, 168, 1, 10}, b{10, 0, 0, 1};
    return {
        {ipv4Frame(6, a, b, tcpHeader(1025, 80, 0x02)), at140307, 42},
        {ipv4Frame(6, b, a, tcpHeader(80, 1025, 0x12)), at140307, 43},
        {ipv4Frame(6, a, b, tcpHeader(1025, 80, 0x10)), at140307, 44},
        {ipv4Frame(17, a, {8, 8, 8, 8}, udpHeader(5353, 53)), at235959, 999999},
        {ipv4Frame(1, a, b, icmpHeader(8, 0)), at235959},
        {ipv4Frame(1, b, a, icmpHeader(3, 3))},
        {ipv4Frame(17, a, b, udpHeader(4000, 161), 6)},  // IPv4 options: ports 38 bytes in
        {ipv4Frame(141, a, b, udpHeader(1, 2))},
        {ipv4Frame(200, a, b, udpHeader(3, 4))},
        {ipv4Frame(114, a, b, udpHeader(5, 6))},
        {ipv4Frame(136, a, b, udpHeader(7, 8))},
        {ipv4Frame(6, a, b, tcpHeader(443, 2000, 0xFF))},
        {ipv4Frame(6, a, b, tcpHeader(2000, 443, 0x80))},
        {ipv4Frame(6, a, b, tcpHeader(2000, 443, 0x00))},
        {cut(ipv4Frame(6, a, b, tcpHeader(80, 81, 0x12)), 33)},  // short of the addresses
        {cut(ipv4Frame(6, a, b, tcpHeader(80, 81, 0x12)), 34)},  // addresses, no transport
        {cut(ipv4Frame(17, a, b, udpHeader(80, 81)), 37)},       // one port and a half
        {cut(ipv4Frame(6, a, b, tcpHeader(80, 81, 0x12)), 47)},  // flags byte not captured
        {cut(ipv4Frame(1, a, b, icmpHeader(3, 1)), 35)},         // ICMP type without code
        {ipv4Frame(17, a, b, udpHeader(80, 81), 15)},            // 60-byte header, ports inside
        {cut(ipv4Frame(17, a, b, udpHeader(80, 81), 15), 60)},   // header points past the end
    };
}

const char* const verboseLines = "1: 14:03:07.000042 TCP 192.168.1.10:1025  ->  10.0.0.1:80\n"
                                 "2: 14:03:07.000043 TCP 10.0.0.1:80  ->  192.168.1.10:1025\n"
                                 "3: 14:03:07.000044 TCP 192.168.1.10:1025  ->  10.0.0.1:80\n"
                                 "4: 23:59:59.999999 UDP 192.168.1.10:5353  ->  8.8.8.8:53\n"
                                 "5: 23:59:59.000000 ICMP 192.168.1.10:2048  ->  10.0.0.1:48879\n"
                                 "6: 22:13:20.000000 ICMP 10.0.0.1:771  ->  192.168.1.10:48879\n"
                                 "7: 22:13:20.000000 UDP 192.168.1.10:4000  ->  10.0.0.1:161\n"
                                 "8: 22:13:20.000000 UNASSIGNED 192.168.1.10:1  ->  10.0.0.1:2\n"
                                 "9: 22:13:20.000000 UNASSIGNED 192.168.1.10:3  ->  10.0.0.1:4\n"
                                 "10: 22:13:20.000000 Any 192.168.1.10:5  ->  10.0.0.1:6\n"
                                 "11: 22:13:20.000000 UDP 192.168.1.10:7  ->  10.0.0.1:8\n"
                                 "12: 22:13:20.000000 TCP 192.168.1.10:443  ->  10.0.0.1:2000\n"
                                 "13: 22:13:20.000000 TCP 192.168.1.10:2000  ->  10.0.0.1:443\n"
                                 "14: 22:13:20.000000 TCP 192.168.1.10:2000  ->  10.0.0.1:443\n"
                                 "15: 22:13:20.000000 truncated frame (33 bytes)\n"
                                 "16: 22:13:20.000000 TCP 192.168.1.10:0  ->  10.0.0.1:0\n"
                                 "17: 22:13:20.000000 UDP 192.168.1.10:80  ->  10.0.0.1:0\n"
                                 "18: 22:13:20.000000 TCP 192.168.1.10:80  ->  10.0.0.1:81\n"
                                 "19: 22:13:20.000000 ICMP 192.168.1.10:0  ->  10.0.0.1:0\n"
                                 "20: 22:13:20.000000 UDP 192.168.1.10:80  ->  10.0.0.1:81\n"
                                 "21: 22:13:20.000000 UDP 192.168.1.10:0  ->  10.0.0.1:0\n";

}  // namespace

TEST(Decoding, VerbosePacketLines) {
    ScratchDir dir;
    writeTrace(dir.path("cases.pcap"), decoderCases());
    const Outcome run = runProgram({"-v", "-r", dir.path("cases.pcap")});
    const std::string start = "\nlistening on " + dir.path("cases.pcap") + "...\n";
    ASSERT_EQ(run.out.substr(0, run.out.find("\n21 packets analysed")),
              "Core:   initializing...\nPcapEngine: initializing...\n"
              "SQLiteEngine: initializing...\n" +
                  start + verboseLines);
    EXPECT_EQ(run.err, "");
}

TEST(Decoding, PacketViewTextsAndServices) {
    ScratchDir dir;
    writeTrace(dir.path("cases.pcap"), decoderCases());
    tidewrack::PcapEngine engine(false);
    ASSERT_EQ(engine.openDump(dir.path("cases.pcap").c_str()), 0);
    struct View {
        const char *flags, *icmpType, *icmpCode, *tcpService, *udpService;
        unsigned ipHeaderLength;
    };
    const View expected[] = {
        {"SYN ", "", "", "EPHEMERAL", "HTTP", 20},
        {"SYN ACK ", "", "", "HTTP", "EPHEMERAL", 20},
        {"ACK ", "", "", "EPHEMERAL", "HTTP", 20},
        {"", "", "", "EPHEMERAL", "DNS", 20},  // UDP after TCP: texts emptied
        {"", "ECHO REQUEST", "ECHO REQUEST", "EPHEMERAL", "EPHEMERAL", 20},
        {"", "DESTINATION UNREACHABLE", "Destination port unreachable", "EPHEMERAL", "EPHEMERAL",
         20},
        {"", "", "", "EPHEMERAL", "SNMP", 24},
        {"", "", "", "TCPMUX", "EPHEMERAL", 20},
        {"", "", "", "EPHEMERAL", "EPHEMERAL", 20},
        {"", "", "", "EPHEMERAL", "EPHEMERAL", 20},
        {"", "", "", "ECHO", "EPHEMERAL", 20},
        {"FIN SYN RST PSH ACK URG ECE CWR ", "", "", "HTTPS", "EPHEMERAL", 20},
        {"CWR ", "", "", "EPHEMERAL", "EPHEMERAL", 20},
        {"", "", "", "EPHEMERAL", "EPHEMERAL", 20},
    };
    for (const View& v : expected) {
        ASSERT_EQ(engine.capture(), 0);
        SCOPED_TRACE(engine.packetCount);
        EXPECT_STREQ(engine.tcpFlagsText, v.flags);
        EXPECT_STREQ(engine.icmpTypeText, v.icmpType);
        EXPECT_STREQ(engine.icmpCodeText, v.icmpCode);
        EXPECT_STREQ(engine.tcpService, v.tcpService);
        EXPECT_STREQ(engine.udpService, v.udpService);
        EXPECT_EQ(engine.ipHeaderLength, v.ipHeaderLength);
        EXPECT_TRUE(engine.frameDecoded);
    }
    ASSERT_EQ(engine.capture(), 0);
    EXPECT_FALSE(engine.frameDecoded);  // 33 bytes: counted, not decoded
    ASSERT_EQ(engine.capture(), 0);
    ASSERT_EQ(engine.capture(), 0);
    ASSERT_EQ(engine.capture(), 0);
    EXPECT_STREQ(engine.tcpFlagsText, "");  // flags byte not captured
    EXPECT_EQ(engine.tcpFlags, 0);
    while (engine.capture() == 0) {
    }
    EXPECT_EQ(engine.packetCount, 21);
    EXPECT_EQ(engine.capture(), 1);  // stays at the end, silently
    EXPECT_EQ(engine.packetCount, 21);
    for (int p = 0; p < tidewrack::protocolTableSize; ++p) {
        const bool seen = p == 1 || p == 6 || p == 17 || p == 114 || p == 136 || p == 141;
        EXPECT_EQ(engine.protocolSeen[p], seen) << p;  // 200 sets no flag
    }
}
