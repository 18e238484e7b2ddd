// The report is exact whatever its memory budget: with a budget of 1 KiB the tally moves its
// counts to the temporary database every few frames and adds the parts up at the end, and the
// report is byte for byte the one made within memory (where the tally derives each
// conversation's client, server, state, handshake and connect times and SYNs itself), for the
// samples and for traffic whose conversations come back again and again across the moves (their
// states and handshake times from flags and times met in different parts), for stretches of
// traffic met out of order, with and without a baseline. Within memory the sections that group
// the conversations are worked out in memory, past it by SQL: port scans and handshake times
// tied with each other compare the two.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "db/traffic_schema.h"
#include "report_test_kit.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace reportkit;

TEST(ReportMemoryBudget, ATinyBudgetGivesTheSameReport) {
    ScratchDir dir;
    std::vector<std::string> databases;
    for (const std::string sample : {"web-session", "port-scan", "rare-protocols"}) {
        databases.push_back(dir.path(sample + ".db"));
        makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/" + sample + ".pcap", databases.back());
    }
    // 6,000 frames of 600 conversations, each met ten times across the run: TCP handshakes
    // answered half a second later or not at all (some only after the client's second SYN),
    // closed by FIN or reset, a scan of 15 ports of one host, UDP, and ICMP errors.
    databases.push_back(dir.path("mixed.db"));
    sqlite3* db = nullptr;
    sqlite3_open(databases.back().c_str(), &db);
    sqlite3_exec(db, tidewrack::sql::createFramesOnly, nullptr, nullptr, nullptr);
    ASSERT_EQ(
        sqlite3_exec(db,
                     "WITH RECURSIVE n(i, c) AS (SELECT 0, 0 UNION ALL "
                     "SELECT i + 1, (i + 1) % 600 FROM n WHERE i < 5999) "
                     "INSERT INTO frames SELECT i, 10, 0, iif(c < 100, 0, c / 100), "
                     "iif(c < 100, 1, c % 100), 40000 + c, 10, 1, 0, c % 7, 20 + c % 30, "
                     "iif(c < 100, 'TCP', CASE c % 4 WHEN 3 THEN 'UDP' WHEN 2 THEN 'ICMP' "
                     "ELSE 'TCP' END), "
                     "CASE i / 600 % 5 WHEN 0 THEN 'SYN ' WHEN 1 THEN 'ACK ' WHEN 2 THEN "
                     "'PSH ACK ' WHEN 3 THEN iif(c % 3 = 0, 'FIN ACK ', 'ACK ') "
                     "ELSE iif(c % 4 = 0, 'RST ', 'ACK ') END, "
                     "printf('12:%02d:%02d.000000', i / 600, i % 60), 60 + i % 1400 FROM n; "
                     "UPDATE frames SET sPort = 3 * 256 + frame % 4 WHERE ipproto = 'ICMP'; "
                     "INSERT INTO frames SELECT frame + 6000, dIP1, dIP2, dIP3, dIP4, dPort, sIP1, "
                     "sIP2, sIP3, sIP4, sPort, ipproto, CASE "
                     "WHEN frame % 10 = 0 AND frame < 3000 THEN 'ACK ' WHEN frame / 600 % 5 = 3 "
                     "THEN iif(frame % 2 = 0, 'FIN ACK ', 'ACK ') WHEN frame / 600 % 5 = 4 "
                     "THEN iif(frame % 3 = 0, 'RST ', 'ACK ') ELSE 'SYN ACK ' END, "
                     "replace(time, '.000000', '.500000'), len FROM frames "
                     "WHERE ipproto = 'TCP' AND frame % 5 = 0",
                     nullptr, nullptr, nullptr),
        SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    // Two scanners probing two targets each, 20 ports from the highest down, each port twice
    // (from two source ports), the second probe of every third port answered a quarter second
    // later: scans tied by their ports, open ports met in descending order, and handshake times
    // tied between the servers.
    databases.push_back(dir.path("scans.db"));
    sqlite3_open(databases.back().c_str(), &db);
    sqlite3_exec(db, tidewrack::sql::createFramesOnly, nullptr, nullptr, nullptr);
    ASSERT_EQ(sqlite3_exec(db,
                           "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n "
                           "WHERE i < 159) "
                           "INSERT INTO frames SELECT 2 * i, 10, 9, 0, 1 + i / 80, "
                           "50000 + i / 20 % 2, 10, 1, 0, 1 + i / 40 % 2, 60 - i % 20, 'TCP', "
                           "'SYN ', printf('13:00:%02d.000000', i % 60), 60 FROM n; "
                           "INSERT INTO frames SELECT frame + 1, dIP1, dIP2, dIP3, dIP4, dPort, "
                           "sIP1, sIP2, sIP3, sIP4, sPort, 'TCP', 'SYN ACK ', "
                           "replace(time, '.000000', '.250000'), 60 FROM frames "
                           "WHERE dPort % 3 = 0 AND sPort = 50001",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    // A -x database, read from its connection record, whose conversations carry the health of
    // their connections (a retransmission among them).
    databases.push_back(dir.path("office-lan.db"));
    makeExtendedDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/office-lan.pcap", databases.back());
    // Stretches of traffic days apart, the clock set back between them, and some an hour and
    // a second apart: their active time and the timeline's gaps are joined across the moves.
    std::vector<tracekit::Record> stretches;
    for (const auto& [day, after] :
         {std::pair{3L, 0L}, {1L, 0L}, {2L, 0L}, {1L, 4201L}, {5L, 0L}}) {
        for (long s = 0; s < 600; s += 3) {
            stretches.push_back(
                {tracekit::ipv4Frame(17, {10, 0, 0, static_cast<std::uint8_t>(day)},
                                     {10, 255, 0, 1}, tracekit::udpHeader(40000, 53, 20)),
                 1735689600 + day * 86400 + after + s, 0});
        }
    }
    tracekit::writeTrace(dir.path("stretches.pcap"), stretches);
    databases.push_back(dir.path("stretches.db"));
    makeExtendedDatabase(dir.path("stretches.pcap"), databases.back());

    for (const std::string& database : databases) {
        const Outcome within = runReport({"--json", "--top", "0", database});
        const Outcome spilled =
            runReport({"--json", "--top", "0", database}, {"TIDEWRACK_REPORT_MEMORY=1"});
        ASSERT_EQ(within.status, 0) << within.err;
        ASSERT_EQ(spilled.status, 0) << spilled.err;
        EXPECT_EQ(spilled.out, within.out) << database;
    }
    EXPECT_EQ(jsonQuery(runReport({"--json", databases[4]}).out,
                        "SELECT json_array_length(?1, '$.port_scans'), "
                        "?1 -> '$.port_scans[0].open_ports', "
                        "json_array_length(?1, '$.handshake_servers')"),
              std::vector<std::string>{"4|[42,45,48,51,54,57,60]|2"});
    EXPECT_EQ(jsonQuery(runReport({"--json", databases[3]}).out,
                        "SELECT ?1 ->> '$.summary.conversations', "
                        "json_array_length(?1, '$.port_scans') > 0, "
                        "json_array_length(?1, '$.unanswered_syns') > 0, "
                        "json_array_length(?1, '$.icmp_errors') > 0, "
                        "json_array_length(?1, '$.handshake_servers') > 0, "
                        "(SELECT group_concat(s, ' ') FROM (SELECT value ->> 'state' AS s "
                        "FROM json_each(?1, '$.tcp_states') ORDER BY s))"),
              std::vector<std::string>{"600|1|1|1|1|RSTO RSTR S0 S1 S3"});
    // And all of them at once, as one body of traffic; and against a baseline of two of them.
    std::vector<std::string> all = {"--top", "0"};
    all.insert(all.end(), databases.begin(), databases.end());
    EXPECT_EQ(runReport(all, {"TIDEWRACK_REPORT_MEMORY=1"}).out, runReport(all).out);
    const std::vector<std::string> against = {"--json",     "--top",      "0",
                                              "--baseline", databases[0], "--baseline",
                                              databases[3], databases[1], databases[3]};
    EXPECT_EQ(runReport(against, {"TIDEWRACK_REPORT_MEMORY=1"}).out, runReport(against).out);
    // The conversations of some states only, which the sections that group them keep alike.
    const std::vector<std::string> states = {"--json",         "--top",      "0",         "--state",
                                             "S0,S1,REJ,RSTO", databases[3], databases[4]};
    EXPECT_EQ(runReport(states, {"TIDEWRACK_REPORT_MEMORY=1"}).out, runReport(states).out);
    // Days 1, 2, 3 and 5: day 1 twice, its second run 4,201 s after its first began (1 h 00 min
    // 04 s after it ended), so five stretches of 597 s.
    EXPECT_EQ(jsonQuery(runReport({"--json", databases.back()}, {"TIDEWRACK_REPORT_MEMORY=1"}).out,
                        "SELECT ?1 ->> '$.summary.active', ?1 ->> '$.summary.idle_gaps', "
                        "?1 ->> '$.timeline.idle_gaps'"),
              std::vector<std::string>{"2985.0|4|4"});
}
