// Who opened each TCP conversation, what became of it and how long its handshake took, on a trace
// written by the trace kit with a conversation of every state, of IPv4 and of IPv6, each segment
// numbered as TCP numbers it: the states (with a SYN sent again, an RST before the connection
// was made, a SYN ACK whose SYN is not in the trace), client and server, the handshake times and
// their median and 95th percentile worked out by hand, the server end that the services by
// traffic count, the SYNs each client sent and its connect time (from its first SYN), and the
// handshake and connect times and the SYNs against tshark's frame times, its count of SYNs and its
// tcp.analysis.ack_rtt.
#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

#include "database.h"
#include "report_test_kit.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace reportkit;

namespace {

constexpr std::uint8_t fin = 0x01, syn = 0x02, rst = 0x04, psh = 0x08, ack = 0x10;

// One TCP conversation, its segments numbered from each end's initial sequence number.
class Connection {
  public:
    Connection(std::vector<tracekit::Record>& records, long& clock, bool six,
               std::uint8_t serverHost, std::uint16_t clientPort, std::uint16_t serverPort)
        : records(records), clock(clock), six(six), serverHost(serverHost), clientPort(clientPort),
          serverPort(serverPort) {}

    // A segment from the client (or the server) `gap` microseconds after the one before.
    Connection& client(std::uint8_t flags, long gap = 1000, std::size_t payload = 0) {
        return send(true, flags, gap, payload);
    }
    Connection& server(std::uint8_t flags, long gap = 1000, std::size_t payload = 0) {
        return send(false, flags, gap, payload);
    }
    // The client's last segment again, `gap` microseconds later, with its number: a
    // retransmission.
    Connection& resend(long gap, std::size_t payload) {
        clock += gap;
        add(true, psh | ack, clientNext - static_cast<std::uint32_t>(payload), serverNext, payload);
        return *this;
    }
    // The server's ACK of a stale connection: its number covers nothing the client sent.
    Connection& staleAck(long gap) {
        clock += gap;
        add(false, ack, serverNext, clientIsn - 1000, 0);
        staleAcknowledged = clientIsn - 1000;
        return *this;
    }
    // The client's RST answering it, numbered as that ACK asked.
    Connection& resetStale(long gap) {
        clock += gap;
        add(true, rst, staleAcknowledged, 0, 0);
        return *this;
    }

  private:
    Connection& send(bool fromClient, std::uint8_t flags, long gap, std::size_t payload) {
        clock += gap;
        std::uint32_t& next = fromClient ? clientNext : serverNext;
        if (flags & syn) {
            next = fromClient ? clientIsn : serverIsn;  // a SYN sent again keeps its number
        }
        const std::uint32_t sequence = next;
        next += static_cast<std::uint32_t>(payload) + ((flags & (syn | fin)) ? 1 : 0);
        add(fromClient, flags, sequence, (flags & ack) ? (fromClient ? serverNext : clientNext) : 0,
            payload);
        return *this;
    }

    void add(bool fromClient, std::uint8_t flags, std::uint32_t sequence,
             std::uint32_t acknowledgement, std::size_t payload) {
        tracekit::Bytes segment = tracekit::tcpHeader(fromClient ? clientPort : serverPort,
                                                      fromClient ? serverPort : clientPort, flags,
                                                      sequence, acknowledgement);
        segment.resize(segment.size() + payload, 0x2e);
        const std::uint8_t from = fromClient ? 1 : serverHost, to = fromClient ? serverHost : 1;
        const std::uint8_t fromNet = fromClient ? 1 : 2, toNet = fromClient ? 2 : 1;
        tracekit::Bytes frame;
        if (six) {
            tracekit::Address6 source{0x20, 0x01, 0x0d, 0xb8, 0, fromNet};
            tracekit::Address6 destination{0x20, 0x01, 0x0d, 0xb8, 0, toNet};
            source[15] = from;
            destination[15] = to;
            frame = tracekit::ipv6Frame(6, source, destination, segment);
        } else {
            frame = tracekit::ipv4Frame(6, {10, fromNet, 0, from}, {10, toNet, 0, to}, segment);
        }
        records.push_back({frame, 1733659200 + clock / 1000000, clock % 1000000});
    }

    std::vector<tracekit::Record>& records;
    long& clock;
    bool six;
    std::uint8_t serverHost;
    std::uint16_t clientPort, serverPort;
    std::uint32_t clientIsn = 1000u * clientPort, serverIsn = 7000u * clientPort;
    std::uint32_t clientNext = clientIsn, serverNext = serverIsn;
    std::uint32_t staleAcknowledged = 0;
};

// Client 10.1.0.1 (2001:db8:1::1) and server 10.2.0.1 (2001:db8:2::1); each conversation's
// client port says which it is.
std::vector<tracekit::Record> everyState() {
    std::vector<tracekit::Record> r;
    long clock = 0;
    for (const bool six : {false, true}) {
        const auto c = [&](std::uint16_t port, std::uint16_t serverPort = 80,
                           std::uint8_t host = 1) {
            return Connection(r, clock, six, host, port, serverPort);
        };
        const std::uint16_t base = six ? 60000 : 50000;
        c(base + 1).client(syn).client(syn, 1000000);    // S0, the SYN sent again
        c(base + 2).client(syn).server(rst | ack, 800);  // REJ
        c(base + 3)
            .client(syn)
            .server(syn | ack, six ? 5000 : 2000)
            .client(ack)
            .client(psh | ack, 500, 100);  // S1
        c(base + 4)
            .client(syn)
            .server(syn | ack, six ? 7000 : 3000)
            .client(ack)
            .client(fin | ack)
            .server(fin | ack)
            .client(ack);                                           // SF
        c(base + 9, 443).client(psh | ack, 1000, 200).server(ack);  // OTH: mid-stream
        if (six) {
            continue;
        }
        c(base + 5).client(syn).server(syn | ack, 1500).client(ack).client(fin | ack);  // S2
        c(base + 6).client(syn).server(syn | ack, 2500).client(ack).server(fin | ack);  // S3
        c(base + 7).client(syn).server(syn | ack, 1000).client(ack).client(rst);        // RSTO
        c(base + 8)
            .client(syn)
            .server(syn | ack, 4000)
            .client(ack)
            .client(psh | ack, 300, 50)
            .server(rst);  // RSTR
        // OTH: a SYN ACK whose SYN is not in the trace, from 10.2.0.10:6000 to port 443.
        c(443, 6000, 10).server(syn | ack).client(ack).client(psh | ack, 200, 60);
        // SF, the SYN sent again a second later: 50 ms from the second SYN.
        c(base + 11)
            .client(syn)
            .client(syn, 1000000)
            .server(syn | ack, 50000)
            .client(ack)
            .client(fin | ack)
            .server(fin | ack)
            .client(ack);
        // SF, an RST to a stale connection before the connection is made: 20 ms from the SYN
        // sent again.
        c(base + 12)
            .client(syn)
            .staleAck(500)
            .resetStale(200)
            .client(syn, 2999300)
            .server(syn | ack, 20000)
            .client(ack)
            .client(fin | ack)
            .server(fin | ack)
            .client(ack);
        // Two HTTP servers on ports without a well-known service, at 10.2.0.2. The first
        // answers the seventh SYN, 63 s after the first, in 96.7 ms: S1. The second answers at
        // once: SF. Its port 8767 refuses: REJ.
        Connection seven = c(base + 13, 8765, 2);
        seven.client(syn);
        for (const long wait : {1, 2, 4, 8, 16, 32}) {
            seven.client(syn, wait * 1000000);
        }
        seven.server(syn | ack, 96700).client(ack).client(psh | ack, 500, 300).server(ack);
        c(base + 14, 8766, 2)
            .client(syn)
            .server(syn | ack, 1200)
            .client(ack)
            .client(fin | ack)
            .server(fin | ack)
            .client(ack);
        c(base + 15, 8767, 2).client(syn).server(rst | ack, 300);
    }
    return r;
}

}  // namespace

TEST(ReportTcpStates, EachConversationHasItsStateClientServerAndHandshake) {
    ScratchDir dir;
    tracekit::writeTrace(dir.path("states.pcap"), everyState());
    makeExtendedDatabase(dir.path("states.pcap"), dir.path("states.db"));
    const Outcome run = runReport({"--json", "--top", "0", dir.path("states.db")});
    ASSERT_EQ(run.status, 0) << run.err;

    // By client port: state, client, server, handshake, connect time and SYNs sent.
    EXPECT_EQ(jsonQuery(run.out, "SELECT coalesce(value ->> 'client', value ->> 'a'), "
                                 "value ->> 'state', value ->> 'server', "
                                 "value ->> 'handshake', value ->> 'connect', value ->> 'syns' "
                                 "FROM json_each(?1, '$.conversations') ORDER BY 1"),
              (std::vector<std::string>{
                  "10.1.0.1:443|OTH||||0",  // no SYN: no client, no server named
                  "10.1.0.1:50001|S0|10.2.0.1:80|||2",
                  "10.1.0.1:50002|REJ|10.2.0.1:80|||1",
                  "10.1.0.1:50003|S1|10.2.0.1:80|0.002|0.002|1",
                  "10.1.0.1:50004|SF|10.2.0.1:80|0.003|0.003|1",
                  "10.1.0.1:50005|S2|10.2.0.1:80|0.0015|0.0015|1",
                  "10.1.0.1:50006|S3|10.2.0.1:80|0.0025|0.0025|1",
                  "10.1.0.1:50007|RSTO|10.2.0.1:80|0.001|0.001|1",
                  "10.1.0.1:50008|RSTR|10.2.0.1:80|0.004|0.004|1",
                  "10.1.0.1:50009|OTH||||0",
                  "10.1.0.1:50011|SF|10.2.0.1:80|0.05|1.05|2",
                  "10.1.0.1:50012|SF|10.2.0.1:80|0.02|3.02|2",
                  "10.1.0.1:50013|S1|10.2.0.2:8765|0.0967|63.0967|7",
                  "10.1.0.1:50014|SF|10.2.0.2:8766|0.0012|0.0012|1",
                  "10.1.0.1:50015|REJ|10.2.0.2:8767|||1",
                  "[2001:db8:1::1]:60001|S0|[2001:db8:2::1]:80|||2",
                  "[2001:db8:1::1]:60002|REJ|[2001:db8:2::1]:80|||1",
                  "[2001:db8:1::1]:60003|S1|[2001:db8:2::1]:80|0.005|0.005|1",
                  "[2001:db8:1::1]:60004|SF|[2001:db8:2::1]:80|0.007|0.007|1",
                  "[2001:db8:1::1]:60009|OTH||||0",
              }));
    // The connection record of the same database says the same of each connection opened by a
    // SYN, by the same definitions.
    const auto end = [](const std::string& address, const std::string& port) {
        return "iif(family = 6, '[' || " + address + " || ']', " + address + ") || ':' || " + port;
    };
    EXPECT_EQ(query(dir.path("states.db"),
                    "SELECT " + end("client", "client_port") + ", state, " +
                        end("server", "server_port") +
                        ", handshake_time, connect_time, syns FROM CONNECTIONS WHERE syns > 0 "
                        "ORDER BY 1"),
              jsonQuery(run.out, "SELECT value ->> 'client', value ->> 'state', "
                                 "value ->> 'server', value ->> 'handshake', "
                                 "value ->> 'connect', value ->> 'syns' "
                                 "FROM json_each(?1, '$.conversations') "
                                 "WHERE value ->> 'syns' > 0 ORDER BY 1"));
    // By conversations, then bytes.
    EXPECT_EQ(jsonQuery(run.out, "SELECT value ->> 'state', value ->> 'conversations' "
                                 "FROM json_each(?1, '$.tcp_states')"),
              (std::vector<std::string>{"SF|5", "S1|3", "OTH|3", "REJ|3", "S0|2", "RSTR|1",
                                        "RSTO|1", "S2|1", "S3|1"}));
    // Eight times of IPv4 at 10.2.0.1, 1 ms to 50 ms: the median is the fourth, the 95th
    // percentile the eighth; two at 10.2.0.2, and two of IPv6: the first and the second. The
    // slowest median first. Two of 10.2.0.1's and one of 10.2.0.2's were retried.
    EXPECT_EQ(jsonQuery(run.out, "SELECT value ->> 'server', value ->> 'handshakes', "
                                 "value ->> 'retried', value ->> 'median', value ->> 'p95' "
                                 "FROM json_each(?1, '$.handshake_servers')"),
              (std::vector<std::string>{"2001:db8:2::1|2|0|0.005|0.007", "10.2.0.1|8|2|0.0025|0.05",
                                        "10.2.0.2|2|1|0.0012|0.0967"}));
    // The two ports without a well-known service that accepted are each shown by its number,
    // never folded into one; the one that only refused is no service.
    EXPECT_EQ(jsonQuery(run.out, "SELECT value ->> 'port', coalesce(value ->> 'service', '-'), "
                                 "value ->> 'handshakes', value ->> 'retried' "
                                 "FROM json_each(?1, '$.handshake_services') ORDER BY 1"),
              (std::vector<std::string>{"80|HTTP|10|2", "8765|-|1|1", "8766|-|1|0"}));
    EXPECT_EQ(jsonQuery(run.out, "SELECT value ->> 'port', value ->> 'connections' "
                                 "FROM json_each(?1, '$.tcp_services') ORDER BY 1"),
              (std::vector<std::string>{"80|10", "6000|1", "8765|1", "8766|1"}));
    // The failed connections, those that tried most first.
    EXPECT_EQ(jsonQuery(run.out, "SELECT value ->> 'client', value ->> 'server', "
                                 "value ->> 'state', value ->> 'syns' "
                                 "FROM json_each(?1, '$.failed_connections')"),
              (std::vector<std::string>{
                  "10.1.0.1:50001|10.2.0.1:80|S0|2",
                  "[2001:db8:1::1]:60001|[2001:db8:2::1]:80|S0|2",
                  "10.1.0.1:50002|10.2.0.1:80|REJ|1",
                  "10.1.0.1:50015|10.2.0.2:8767|REJ|1",
                  "[2001:db8:1::1]:60002|[2001:db8:2::1]:80|REJ|1",
              }));
    // The server end of the SYN ACK without its SYN is the end that sent it, though the other
    // end's port is HTTPS's; that of the mid-stream conversations the end of HTTPS's port.
    EXPECT_EQ(jsonQuery(run.out, "SELECT value ->> 'protocol', value ->> 'port', "
                                 "value ->> 'conversations', value ->> 'servers' "
                                 "FROM json_each(?1, '$.services_by_traffic') ORDER BY 2"),
              (std::vector<std::string>{"TCP|80|14|2", "TCP|443|2|2", "TCP|6000|1|1",
                                        "TCP|8765|1|1", "TCP|8766|1|1"}));

    // --state keeps the conversations of its states, and all that is made of them.
    const Outcome failed =
        runReport({"--json", "--top", "0", "--state", "REJ,S0", dir.path("states.db")});
    ASSERT_EQ(failed.status, 0) << failed.err;
    EXPECT_EQ(jsonQuery(failed.out, "SELECT ?1 ->> '$.summary.filter', "
                                    "?1 ->> '$.summary.conversations', "
                                    "json_array_length(?1, '$.conversations'), "
                                    "json_array_length(?1, '$.failed_connections'), "
                                    "json_array_length(?1, '$.handshake_servers')"),
              std::vector<std::string>{"--state REJ,S0|5|5|5|0"});
    EXPECT_EQ(jsonQuery(failed.out, "SELECT value ->> 'state' FROM json_each(?1, '$.tcp_states')"),
              (std::vector<std::string>{"REJ", "S0"}));
    // By rate, the five that lasted a second at least come first (the SYN sent seven times and
    // the two sent twice among them), the rest after them; the note says what --min-duration
    // set.
    const Outcome rated =
        runReport({"--json", "--top", "0", "--by", "rate", dir.path("states.db")});
    EXPECT_EQ(jsonQuery(rated.out, "SELECT group_concat(value ->> 'duration' >= 1, '') "
                                   "FROM json_each(?1, '$.conversations')"),
              std::vector<std::string>{"11111000000000000000"});
    const Outcome shortest = runReport(
        {"--by", "rate", "--min-duration", "0.0005", dir.path("states.db")}, {"COLUMNS=120"});
    EXPECT_NE(shortest.out.find("0.0005"), std::string::npos) << shortest.out;
    // People are told what the services left out, also when that is all of them: of the
    // failed conversations, ports 80 and 8767 only refused.
    const Outcome text = runReport({dir.path("states.db")}, {"COLUMNS=200"});
    EXPECT_NE(text.out.find("; 1 TCP port that"), std::string::npos) << text.out;
    const Outcome none = runReport({"--state", "S0,REJ", dir.path("states.db")}, {"COLUMNS=200"});
    EXPECT_NE(none.out.find("server ports (2 TCP ports that only refused left out (in the failed "
                            "connections))\n  none\n"),
              std::string::npos)
        << none.out;

    if (std::system("tshark --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed (apt-get install tshark)";
    }
    // tshark's ack_rtt measures the two SYNs sent again from their first sending.
    const TsharkHandshakes theirs = tsharkHandshakes(dir.path("states.pcap"));
    EXPECT_EQ(reportHandshakes(run.out), theirs.fromLastSyn);
    EXPECT_EQ(reportHandshakes(run.out, "connect"), theirs.connect);
    EXPECT_EQ(reportSyns(run.out), theirs.syns);
    const std::string again = "10.1.0.1:50011 > 10.2.0.1:80",
                      stale = "10.1.0.1:50012 > 10.2.0.1:80",
                      seven = "10.1.0.1:50013 > 10.2.0.2:8765";
    EXPECT_EQ(theirs.sentAgain, (std::set<std::string>{again, stale, seven}));
    EXPECT_EQ(theirs.syns.at(seven), 7);
    // tshark's ack_rtt is the connect time of the SYNs sent again.
    Handshakes ackRtt = theirs.ackRtt;
    EXPECT_EQ(std::exchange(ackRtt[again], 50000), theirs.connect.at(again));
    EXPECT_EQ(std::exchange(ackRtt[stale], 20000), theirs.connect.at(stale));
    EXPECT_EQ(std::exchange(ackRtt[seven], 96700), 63096700);
    EXPECT_EQ(ackRtt, theirs.fromLastSyn);
}

// The connection record's health: a connection whose client sent a segment again is the one in
// worst health, with its Community ID, which --id selects; its conversation carries the
// record's counts in every output; a database of flows only says the same; and read frame by
// frame, where there is no record to tell, the health is unknown and --id selects nothing.
TEST(ReportTcpStates, TheRecordTellsEachConnectionsHealth) {
    ScratchDir dir;
    std::vector<tracekit::Record> r;
    long clock = 0;
    Connection(r, clock, false, 1, 50001, 80)
        .client(syn)
        .server(syn | ack)
        .client(ack)
        .client(psh | ack, 500, 100)
        .resend(200000, 100)
        .server(ack)
        .client(fin | ack)
        .server(fin | ack)
        .client(ack);
    Connection(r, clock, false, 1, 50002, 80).client(syn).server(syn | ack).client(ack);
    tracekit::writeTrace(dir.path("resent.pcap"), r);
    const std::string full = dir.path("full.db"), flows = dir.path("flows.db");
    makeExtendedDatabase(dir.path("resent.pcap"), full);
    makeExtendedDatabase(dir.path("resent.pcap"), flows, "UTC", 3);
    const std::vector<std::string> id =
        query(full, "SELECT community_id FROM CONNECTIONS WHERE retransmissions_client = 1");
    ASSERT_EQ(id.size(), 1u);
    const std::string worst =
        "SELECT value ->> 'client', value ->> 'server', value ->> 'state', "
        "value ->> 'retransmissions', value ->> 'missed_bytes', value ->> 'community_id' FROM "
        "json_each(?1, '$.worst_health')";
    const std::string health = "SELECT value ->> 'b', value ->> 'retransmissions_a_to_b', "
                               "value ->> 'retransmissions_b_to_a', value ->> 'community_id' FROM "
                               "json_each(?1, '$.conversations') ORDER BY 1";
    for (const std::string& db : {full, flows}) {
        SCOPED_TRACE(db);
        const Outcome json = runReport({"--json", db});
        ASSERT_EQ(json.status, 0) << json.err;
        EXPECT_EQ(jsonQuery(json.out, worst),
                  std::vector<std::string>{"10.1.0.1:50001|10.2.0.1:80|SF|1|0|" + id[0]});
        const std::vector<std::string> both = jsonQuery(json.out, health);
        ASSERT_EQ(both.size(), 2u);
        EXPECT_EQ(both[0], "10.2.0.1:80|1|0|" + id[0]);
        EXPECT_EQ(both[1].substr(0, 16), "10.2.0.1:80|0|0|");
        const Outcome one = runReport({"--json", "--id", id[0], db});
        EXPECT_EQ(jsonQuery(one.out, health), std::vector<std::string>{both[0]});
        EXPECT_EQ(jsonQuery(one.out, "SELECT ?1 ->> '$.summary.frames'"),
                  std::vector<std::string>{"9"});
        EXPECT_NE(runReport({"--csv", "conversations", "--id", id[0], db}).out.find(id[0]),
                  std::string::npos);
    }
    // Frame by frame: no health, and no frame passes --id.
    const std::vector<std::string> byFrame = {"TIDEWRACK_REPORT_FRAMES=1"};
    const Outcome frames = runReport({"--json", full}, byFrame);
    EXPECT_EQ(jsonQuery(frames.out, health),
              (std::vector<std::string>{"10.2.0.1:80|||", "10.2.0.1:80|||"}));
    EXPECT_EQ(jsonQuery(frames.out, "SELECT json_type(?1, '$.worst_health')"),
              std::vector<std::string>{"null"});
    EXPECT_EQ(jsonQuery(runReport({"--json", "--id", id[0], full}, byFrame).out,
                        "SELECT ?1 ->> '$.summary.frames'"),
              std::vector<std::string>{"0"});
    // A Community ID is "1:" and the base64 of a SHA-1 hash.
    const Outcome bad = runReport({"--id", "1:abc", full});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "tidewrack-report: --id takes a Community ID (1: and 28 characters of "
                       "base64), not '1:abc'\n");
}
