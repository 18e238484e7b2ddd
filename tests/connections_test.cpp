// The connection record's engine: the TCP state against the report's, and the Community ID
// against its published test vectors.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "connections/community_id.h"
#include "connections/tcp_state.h"
#include "database.h"
#include "file_bytes.h"
#include "report/tcp_states.h"

using namespace tidewrack;

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
