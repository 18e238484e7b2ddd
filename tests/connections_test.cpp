// The connection record's engine: packets made with the trace kit, read through the transport
// facts as the decoder hands them over, fed to the connection table, and the rows it writes;
// the Community ID against its published test vectors; the TCP state against the report's.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "capture/link_layer.h"
#include "capture/transport_facts.h"
#include "connections/connection_table.h"
#include "database.h"
#include "file_bytes.h"
#include "report/tcp_states.h"
#include "tracekit/frames.h"

using namespace tidewrack;
using namespace tracekit;

namespace {

const Address client{192, 168, 1, 10}, server{10, 0, 0, 1}, router{10, 0, 0, 254};
constexpr std::uint16_t clientPort = 40000, serverPort = 80;
constexpr std::uint8_t syn = 0x02, ack = 0x10, fin = 0x01, rst = 0x04, psh = 0x08;
constexpr std::uint32_t clientIsn = 1000, serverIsn = 5000;

struct Rows {
    std::vector<ConnectionRow> rows;
    ConnectionSink sink() {
        return {[](void* rows, const ConnectionRow& row) {
                    static_cast<Rows*>(rows)->rows.push_back(row);
                },
                this};
    }
};

class Connections : public ::testing::Test {
  protected:
    // Adds an Ethernet frame `after` microseconds after the one before; returns its TCP analysis
    // flags.
    std::uint16_t add(const Bytes& frame, Microseconds after = 1000) {
        now += after;
        PacketFacts facts;
        facts.frame = ++frames;
        facts.time.tv_sec = static_cast<time_t>(now / 1000000);
        facts.time.tv_usec = static_cast<suseconds_t>(now % 1000000);
        const auto length = static_cast<std::uint32_t>(frame.size());
        const FrameBytes bytes(frame.data(), length);
        const LinkFrame link = readLinkLayer(LinkType::Ethernet, bytes);
        IpLayers layers;
        layers.family = link.kind == NetworkKind::Ipv6 ? 6 : 4;
        layers.network = link.network;
        layers.protocol = frame[link.network + (layers.family == 6 ? 6 : 9)];
        layers.transport =
            link.network + (layers.family == 6 ? 40 : (frame[link.network] & 15) * 4);
        readTransportFacts(bytes, length, layers, facts);
        return table->add(facts).flags;
    }
    // A TCP segment of the client's (or the server's) with `payload` bytes.
    static Bytes tcp(bool fromClient, std::uint8_t flags, std::uint32_t sequence,
                     std::uint32_t acknowledgement, std::size_t payload = 0,
                     std::uint16_t window = 65535) {
        Bytes segment =
            tcpHeader(fromClient ? clientPort : serverPort, fromClient ? serverPort : clientPort,
                      flags, sequence, acknowledgement);
        segment[14] = static_cast<std::uint8_t>(window >> 8);
        segment[15] = static_cast<std::uint8_t>(window);
        segment.resize(segment.size() + payload, 0x61);
        return ipv4Frame(6, fromClient ? client : server, fromClient ? server : client, segment);
    }
    static Bytes c(std::uint8_t flags, std::uint32_t sequence, std::uint32_t acknowledgement,
                   std::size_t payload = 0, std::uint16_t window = 65535) {
        return tcp(true, flags, sequence, acknowledgement, payload, window);
    }
    static Bytes s(std::uint8_t flags, std::uint32_t sequence, std::uint32_t acknowledgement,
                   std::size_t payload = 0, std::uint16_t window = 65535) {
        return tcp(false, flags, sequence, acknowledgement, payload, window);
    }
    // The handshake: SYN, SYN ACK 20 ms later, ACK 1 ms later.
    void handshake() {
        add(c(syn, clientIsn, 0));
        add(s(syn | ack, serverIsn, clientIsn + 1), 20000);
        add(c(ack, clientIsn + 1, serverIsn + 1));
    }
    const std::vector<ConnectionRow>& finish() {
        table->finish();
        return sink.rows;
    }
    static std::string address(const std::uint8_t (&bytes)[16], int family = 4) {
        char text[INET6_ADDRSTRLEN];
        inet_ntop(family == 6 ? AF_INET6 : AF_INET, bytes, text, sizeof text);
        return text;
    }

    Rows sink;
    std::unique_ptr<ConnectionTable> table = std::make_unique<ConnectionTable>(sink.sink());
    std::uint64_t frames = 0;
    Microseconds now = 1700000000000000;
};

}  // namespace

TEST_F(Connections, HandshakeDataAndCloseIsSfWithItsCountsEachWay) {
    handshake();
    add(c(psh | ack, clientIsn + 1, serverIsn + 1, 100));
    add(s(ack, serverIsn + 1, clientIsn + 101));
    add(s(psh | ack, serverIsn + 1, clientIsn + 101, 300));
    add(c(ack, clientIsn + 101, serverIsn + 301));
    add(c(fin | ack, clientIsn + 101, serverIsn + 301));
    add(s(fin | ack, serverIsn + 301, clientIsn + 102));
    add(c(ack, clientIsn + 102, serverIsn + 302));
    // Closed, the connection ends once idle for the close delay: at the next frame after it.
    add(ipv4Frame(17, client, router, udpHeader(5353, 53)), 5000001);
    ASSERT_EQ(sink.rows.size(), 1u);
    const ConnectionRow& row = sink.rows[0];
    EXPECT_EQ(row.end, EndReason::Closed);
    EXPECT_EQ(std::string(row.communityId).find("1:"), 0u);
    EXPECT_EQ(row.protocol, 6);
    EXPECT_EQ(address(row.client), "192.168.1.10");
    EXPECT_EQ(address(row.server), "10.0.0.1");
    EXPECT_EQ(row.clientPort, clientPort);
    EXPECT_EQ(row.serverPort, serverPort);
    EXPECT_EQ(row.firstFrame, 1u);
    EXPECT_EQ(row.lastFrame, 10u);
    EXPECT_EQ(row.duration, 20000 + 8 * 1000);
    EXPECT_EQ(row.firstTime.tv_usec, 1000);
    EXPECT_EQ(row.fromClient.frames, 6u);
    EXPECT_EQ(row.fromClient.bytes, 6 * 54u + 100);
    EXPECT_EQ(row.fromClient.payload, 100u);
    EXPECT_EQ(row.fromServer.frames, 4u);
    EXPECT_EQ(row.fromServer.bytes, 4 * 54u + 300);
    EXPECT_EQ(row.fromServer.payload, 300u);
    EXPECT_EQ(row.state, "SF");
    EXPECT_STREQ(row.history, "ShADadFf");
    EXPECT_EQ(row.syns, 1u);
    EXPECT_EQ(row.connectTime, 20000);
    EXPECT_EQ(row.handshakeTime, 20000);
    EXPECT_EQ(row.missedBytes, 0u);
    EXPECT_EQ(row.fromClient.retransmissions + row.fromServer.retransmissions +
                  row.fromClient.duplicateAcks + row.fromServer.duplicateAcks,
              0u);
    // The UDP datagram is still open; at the end of the input it is written.
    ASSERT_EQ(finish().size(), 2u);
    EXPECT_EQ(sink.rows[1].end, EndReason::EndOfInput);
    EXPECT_FALSE(sink.rows[1].tcp);
    EXPECT_EQ(sink.rows[1].serverPort, 53);
}

TEST_F(Connections, AttemptsRejectedOrUnanswered) {
    add(c(syn, clientIsn, 0));
    add(s(rst | ack, 0, clientIsn + 1));
    ASSERT_EQ(finish().size(), 1u);
    EXPECT_EQ(sink.rows[0].state, "REJ");
    EXPECT_STREQ(sink.rows[0].history, "Sr");
    EXPECT_EQ(sink.rows[0].connectTime, unknownDuration);

    // Three SYNs of the same attempt, the last two tshark's retransmissions: one connection.
    sink.rows.clear();
    table = std::make_unique<ConnectionTable>(sink.sink());
    EXPECT_EQ(add(c(syn, clientIsn, 0)), 0);
    EXPECT_EQ(add(c(syn, clientIsn, 0), 1000000), TcpRetransmission);
    EXPECT_EQ(add(c(syn, clientIsn, 0), 2000000), TcpRetransmission);
    ASSERT_EQ(finish().size(), 1u);
    const ConnectionRow& row = sink.rows[0];
    EXPECT_EQ(row.state, "S0");
    EXPECT_EQ(row.syns, 3u);
    EXPECT_EQ(row.fromClient.retransmissions, 2u);
    EXPECT_STREQ(row.history, "S");  // the same sequence number: one letter
    EXPECT_EQ(row.fromServer.frames, 0u);
}

TEST_F(Connections, ConnectTimeFromTheFirstSynHandshakeFromTheOneAnswered) {
    add(c(syn, clientIsn, 0));
    add(c(syn, clientIsn, 0), 1000000);
    add(s(syn | ack, serverIsn, clientIsn + 1), 30000);
    add(c(ack, clientIsn + 1, serverIsn + 1));
    add(c(rst, clientIsn + 1, 0), 2000);
    ASSERT_EQ(finish().size(), 1u);
    const ConnectionRow& row = sink.rows[0];
    EXPECT_EQ(row.syns, 2u);
    EXPECT_EQ(row.connectTime, 1030000);
    EXPECT_EQ(row.handshakeTime, 30000);
    EXPECT_EQ(row.state, "RSTO");
}

TEST_F(Connections, AnalysisFlagsCountInTheDirectionThatSentThem) {
    handshake();  // an initial round trip of 21 ms
    const std::uint32_t data = clientIsn + 1, answer = serverIsn + 1;
    EXPECT_EQ(add(c(ack, data, answer, 100)), 0);
    EXPECT_EQ(add(c(ack, data + 100, answer, 100)), 0);
    EXPECT_EQ(add(c(ack, data, answer, 100), 500000), TcpRetransmission);
    EXPECT_EQ(add(s(ack, answer, data + 200)), 0);
    EXPECT_EQ(add(c(ack, data, answer, 100)), TcpSpuriousRetransmission | TcpRetransmission);
    EXPECT_EQ(add(s(ack, answer, data + 200)), TcpDuplicateAck);
    EXPECT_EQ(add(c(ack, data + 300, answer, 100)), TcpLostSegment);
    EXPECT_EQ(add(s(ack, answer, data + 200)), TcpDuplicateAck);
    EXPECT_EQ(add(c(ack, data + 200, answer, 100)), TcpOutOfOrder);
    // Out-of-order too when it runs past the next sequence number (data + 400), as tshark has it.
    EXPECT_EQ(add(c(ack, data + 350, answer, 100)), TcpOutOfOrder);
    EXPECT_EQ(add(s(ack, answer, data + 400, 0, 0)), TcpZeroWindow);
    // A keep-alive, one byte before the next sequence number, is no retransmission, nor is its
    // answer a duplicate ACK.
    EXPECT_EQ(add(s(ack, answer, data + 400, 0, 65535), 100000), 0);
    EXPECT_EQ(add(c(ack, data + 449, answer, 0), 10000000), TcpKeepAlive);
    EXPECT_EQ(add(s(ack, answer, data + 400, 0, 65535)), TcpKeepAliveAck);
    ASSERT_EQ(finish().size(), 1u);
    const ConnectionRow& row = sink.rows[0];
    EXPECT_EQ(row.fromClient.retransmissions, 2u);
    EXPECT_EQ(row.fromClient.outOfOrder, 2u);
    EXPECT_EQ(row.fromClient.duplicateAcks, 0u);
    EXPECT_EQ(row.fromServer.duplicateAcks, 2u);
    EXPECT_EQ(row.fromServer.zeroWindows, 1u);
    EXPECT_EQ(row.fromServer.retransmissions + row.fromServer.outOfOrder +
                  row.fromClient.zeroWindows,
              0u);
    EXPECT_STREQ(row.history, "ShADTaw");
    EXPECT_EQ(row.state, "S1");
    EXPECT_EQ(row.missedBytes, 0u);  // the hole was filled before it was acknowledged
}

TEST_F(Connections, BytesAcknowledgedButNeverSeenAreMissed) {
    handshake();
    add(c(ack, clientIsn + 1, serverIsn + 1, 100));
    add(c(ack, clientIsn + 201, serverIsn + 1, 100));  // 100 bytes before it never seen
    add(s(ack, serverIsn + 1, clientIsn + 301));
    // The server's ACK of bytes it never sent in the capture counts for its own direction.
    add(c(ack, clientIsn + 301, serverIsn + 51));
    ASSERT_EQ(finish().size(), 1u);
    EXPECT_EQ(sink.rows[0].missedBytes, 150u);
    EXPECT_STREQ(sink.rows[0].history, "ShADGag");
}

TEST_F(Connections, ANewSynOnTheSamePortsStartsAnotherConnection) {
    handshake();
    add(c(fin | ack, clientIsn + 1, serverIsn + 1));
    add(s(fin | ack, serverIsn + 1, clientIsn + 2));
    add(c(ack, clientIsn + 2, serverIsn + 2));
    add(c(syn, clientIsn + 70000, 0), 1000000);  // within the close delay, another ISN
    ASSERT_EQ(sink.rows.size(), 1u);
    EXPECT_EQ(sink.rows[0].end, EndReason::Reused);
    EXPECT_EQ(sink.rows[0].state, "SF");
    EXPECT_EQ(sink.rows[0].lastFrame, 6u);
    ASSERT_EQ(finish().size(), 2u);
    EXPECT_EQ(sink.rows[1].state, "S0");
    EXPECT_EQ(sink.rows[1].firstFrame, 7u);
    EXPECT_STREQ(sink.rows[1].communityId, sink.rows[0].communityId);
}

TEST_F(Connections, IdleConnectionsEndAfterZeeksTimeouts) {
    const Bytes query = ipv4Frame(17, client, server, udpHeader(5353, 53, 10));
    add(query);
    add(query, 60000000);  // a minute later: still the same connection
    add(query, 60000001);  // more than a minute later: another
    handshake();
    add(c(ack, clientIsn + 1, serverIsn + 1), 300000000);  // 5 minutes: still open
    add(c(ack, clientIsn + 1, serverIsn + 1), 300000001);
    ASSERT_EQ(finish().size(), 4u);
    const std::vector<ConnectionRow>& rows = sink.rows;
    EXPECT_EQ(rows[0].end, EndReason::Idle);
    EXPECT_EQ(rows[0].fromClient.frames, 2u);
    EXPECT_EQ(rows[0].fromClient.payload, 20u);
    EXPECT_EQ(rows[1].end, EndReason::Idle);  // the second datagram, ended by the last ACK
    EXPECT_EQ(rows[1].fromClient.frames, 1u);
    EXPECT_EQ(rows[2].end, EndReason::Idle);
    EXPECT_EQ(rows[2].state, "S1");
    EXPECT_EQ(rows[3].end, EndReason::EndOfInput);
    EXPECT_EQ(rows[3].state, "OTH");
}

// A few hundred flows through a table of fewer places, touched in a pseudo-random order: the
// rows written early are those a plain least-recently-used list of the same size would drop,
// one by one, marked as such, and no frame is lost (the index is emptied and refilled many times
// over).
TEST_F(Connections, AFullTableWritesTheIdleLongestEarlyAndLosesNothing) {
    table = std::make_unique<ConnectionTable>(sink.sink(), 64 * 1024);
    const std::size_t capacity = table->capacity();
    ASSERT_GT(capacity, 50u);
    ASSERT_LT(capacity, 300u);
    using Flow = std::pair<std::uint16_t, std::uint64_t>;  // port, frames
    std::list<Flow> model;                                 // the least recently used first
    std::vector<Flow> expected;
    std::uint32_t random = 12345;
    for (int packet = 0; packet < 20000; ++packet) {
        random = random * 1103515245 + 12345;
        const auto port = static_cast<std::uint16_t>(1000 + (random >> 8) % (capacity * 3 / 2));
        add(ipv4Frame(17, client, server, udpHeader(port, 53)));
        auto found = std::find_if(model.begin(), model.end(),
                                  [&](const Flow& flow) { return flow.first == port; });
        const std::uint64_t frames = found == model.end() ? 1 : found->second + 1;
        if (found != model.end()) {
            model.erase(found);
        } else if (model.size() == capacity) {
            expected.push_back(model.front());
            model.pop_front();
        }
        model.emplace_back(port, frames);
        EXPECT_LE(table->openConnections(), capacity);
    }
    const std::size_t early = expected.size();
    finish();
    std::vector<Flow> written;
    for (std::size_t i = 0; i < sink.rows.size(); ++i) {
        written.emplace_back(sink.rows[i].clientPort, sink.rows[i].fromClient.frames);
        EXPECT_EQ(sink.rows[i].end, i < early ? EndReason::Budget : EndReason::EndOfInput);
    }
    // The rows of the end are in the order of their first frame: they compare as a set.
    std::sort(written.begin() + static_cast<long>(early), written.end());
    model.sort();
    expected.insert(expected.end(), model.begin(), model.end());
    EXPECT_EQ(written, expected);
    // A budget too small for one connection still holds one.
    table = std::make_unique<ConnectionTable>(sink.sink(), 1);
    EXPECT_EQ(table->capacity(), 1u);
}

TEST_F(Connections, ClientOfAConnectionSeenFromItsMiddle) {
    // The server's data first: without a SYN, the sender of the first frame is the client.
    add(s(psh | ack, serverIsn + 1, clientIsn + 1, 10));
    add(c(ack, clientIsn + 1, serverIsn + 11));
    ASSERT_EQ(finish().size(), 1u);
    EXPECT_EQ(address(sink.rows[0].client), "10.0.0.1");
    EXPECT_EQ(sink.rows[0].state, "OTH");
    EXPECT_STREQ(sink.rows[0].history, "Da");
    // A SYN ACK first: its receiver is the client, and the history says it was turned round.
    sink.rows.clear();
    table = std::make_unique<ConnectionTable>(sink.sink());
    add(s(syn | ack, serverIsn, clientIsn + 1));
    add(c(ack, clientIsn + 1, serverIsn + 1));
    ASSERT_EQ(finish().size(), 1u);
    EXPECT_EQ(address(sink.rows[0].client), "192.168.1.10");
    EXPECT_EQ(sink.rows[0].clientPort, clientPort);
    EXPECT_EQ(sink.rows[0].state, "OTH");
    EXPECT_STREQ(sink.rows[0].history, "^hA");
}

TEST_F(Connections, IcmpRequestAndReplyShareAConnectionOneWayMessagesDoNot) {
    add(ipv4Frame(1, client, server, icmpHeader(8, 0)));
    add(ipv4Frame(1, server, client, icmpHeader(0, 0)));
    add(ipv4Frame(1, router, client, icmpHeader(3, 1)));
    add(ipv4Frame(1, client, router, icmpHeader(3, 1)));
    const Address6 a6{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const Address6 b6{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    add(ipv6Frame(58, b6, a6, icmpHeader(135, 0)));
    add(ipv6Frame(58, a6, b6, icmpHeader(136, 0)));
    ASSERT_EQ(finish().size(), 4u);
    const std::vector<ConnectionRow>& rows = sink.rows;
    EXPECT_EQ(address(rows[0].client), "192.168.1.10");
    EXPECT_EQ(rows[0].clientPort, 8);
    EXPECT_EQ(rows[0].serverPort, 0);
    EXPECT_EQ(rows[0].fromServer.frames, 1u);
    EXPECT_FALSE(rows[0].tcp);
    EXPECT_EQ(address(rows[1].client), "10.0.0.254");
    EXPECT_EQ(rows[1].clientPort, 3);
    EXPECT_EQ(rows[1].serverPort, 1);
    EXPECT_EQ(address(rows[2].client), "192.168.1.10");
    // A one-way message keeps its ends in the packet's order, in its identifier too (as tshark's
    // on the corpus).
    FlowTuple unreachable;
    std::copy(client.begin(), client.end(), unreachable.source);
    std::copy(router.begin(), router.end(), unreachable.destination);
    unreachable.protocol = 1;
    unreachable.hasPorts = true;
    unreachable.sourcePort = 3;
    unreachable.destinationPort = 1;
    char id[communityIdSize];
    ASSERT_TRUE(communityId(unreachable, 0, id));
    EXPECT_STREQ(rows[2].communityId, id);
    EXPECT_STRNE(rows[1].communityId, rows[2].communityId);
    EXPECT_EQ(rows[3].family, 6);
    EXPECT_EQ(address(rows[3].client, 6), "2001:db8::2");
    EXPECT_EQ(rows[3].clientPort, 135);
    EXPECT_EQ(rows[3].serverPort, 136);
    EXPECT_EQ(rows[3].fromServer.frames, 1u);
}

// Every combination of what the two ends of a TCP connection sent, at a few times (resets at
// the same time included): the record and the report name the same state.
TEST(ConnectionState, AgreesWithTheReport) {
    const Microseconds times[] = {10, 20, 30};
    int checked = 0;
    for (int seen = 0; seen < 256; ++seen) {
        for (int sent = 0; sent < 4; ++sent) {
            for (const Microseconds synAck : times) {
                for (const Microseconds rstA : times) {
                    for (const Microseconds rstB : times) {
                        TcpEndState ends[2];
                        report::TcpEnd reportEnds[2];
                        bool sentBy[2];
                        for (int e = 0; e < 2; ++e) {
                            const auto bits = static_cast<std::uint8_t>(seen >> (4 * e) & 15);
                            sentBy[e] = (sent >> e & 1) || bits != 0;
                            ends[e].seen = reportEnds[e].seen = bits;
                            reportEnds[e].sent = sentBy[e];
                            ends[e].synFirst = reportEnds[e].synFirst = 5 + e;  // end a's first
                            ends[e].synAckFirst = reportEnds[e].synAckFirst = synAck + e;
                            ends[e].rstFirst = reportEnds[e].rstFirst = e == 0 ? rstA : rstB;
                            ends[e].rstLast = reportEnds[e].rstLast =
                                (e == 0 ? rstA : rstB) + 15 * e;
                        }
                        const std::string_view expected =
                            report::tcpState(reportEnds, report::tcpClient(reportEnds)).code;
                        EXPECT_EQ(tcpState(ends, sentBy, tcpOpener(ends, 0)), expected)
                            << "seen " << seen << " sent " << sent << " synAck " << synAck
                            << " rst " << rstA << ", " << rstB;
                        ++checked;
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 256 * 4 * 27);
}

// The published Community ID baselines: every flow of each, with its seed and its form (the
// ports of ICMP are its type and code there).
TEST(CommunityId, PublishedTestVectors) {
    const std::filesystem::path vectors = TIDEWRACK_VECTORS_DIR;
    if (!std::filesystem::is_directory(vectors)) {
        GTEST_SKIP() << "no Community ID test vectors at " << vectors;
    }
    int flows = 0;
    for (const auto& [file, seed] :
         {std::pair{"baseline_deflt.json", 0}, std::pair{"baseline_seed1.json", 1},
          std::pair{"baseline_nob64.json", 0}}) {
        const std::vector<std::string> rows = testkit::query(
            ":memory:",
            "SELECT value->>'proto', value->>'saddr', value->>'daddr', "
            "coalesce(value->>'sport', -1), coalesce(value->>'dport', -1), value->>'communityid' "
            "FROM json_each(?1)",
            {testkit::fileBytes((vectors / file).string())});
        ASSERT_EQ(rows.size(), 23u) << file;
        for (std::string row : rows) {
            std::replace(row.begin(), row.end(), '|', ' ');
            std::istringstream in(row);
            int protocol, sourcePort, destinationPort;  // -1 for a protocol without ports
            std::string source, destination, expected;
            in >> protocol >> source >> destination >> sourcePort >> destinationPort >> expected;
            FlowTuple flow;
            flow.protocol = static_cast<std::uint8_t>(protocol);
            flow.family = source.find(':') != std::string::npos ? 6 : 4;
            const int af = flow.family == 6 ? AF_INET6 : AF_INET;
            ASSERT_EQ(inet_pton(af, source.c_str(), flow.source), 1) << row;
            ASSERT_EQ(inet_pton(af, destination.c_str(), flow.destination), 1) << row;
            flow.hasPorts = sourcePort >= 0;
            const IcmpPorts icmp = icmpPorts(protocol == 58, static_cast<std::uint8_t>(sourcePort),
                                             static_cast<std::uint8_t>(destinationPort));
            const bool isIcmp = protocol == 1 || protocol == 58;
            flow.sourcePort = static_cast<std::uint16_t>(isIcmp ? icmp.source : sourcePort);
            flow.destinationPort =
                static_cast<std::uint16_t>(isIcmp ? icmp.destination : destinationPort);
            orderEnds(flow, isIcmp && icmp.oneWay);
            std::string got = "1:";
            if (expected.size() == 30) {
                char text[communityIdSize];
                ASSERT_TRUE(communityId(flow, static_cast<std::uint16_t>(seed), text));
                got = text;
            } else {
                std::uint8_t digest[20];
                ASSERT_TRUE(communityIdDigest(flow, 0, digest));
                for (const std::uint8_t byte : digest) {
                    got += "0123456789abcdef"[byte >> 4];
                    got += "0123456789abcdef"[byte & 15];
                }
            }
            EXPECT_EQ(got, expected) << file << ": " << row;
            ++flows;
        }
    }
    EXPECT_EQ(flows, 3 * 23);
}
