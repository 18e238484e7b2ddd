// Databases off the beaten track: empty, without TCP, written in mode 2, crossing midnight
// with a time tidewrack could not convert, spanning thousands of days, and two hundred of them
// at once; and the terminal report fitted to a narrow terminal.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <set>

#include "db/traffic_schema.h"
#include "report_test_kit.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace reportkit;

namespace {

const std::string samples = TIDEWRACK_SAMPLES_DIR;

// The report's sections, "id=length" for a list, "id=object" or "id=null", in document order.
std::vector<std::string> sectionShapes(const std::string& json) {
    return jsonQuery(json, "SELECT key || '=' || iif(type = 'array', json_array_length(value), "
                           "type) FROM json_each(?1) WHERE key NOT IN ('generator', 'top')");
}

}  // namespace

TEST(ReportUnusualDatabases, EmptyAndTcpLessDatabasesGiveEmptySections) {
    ScratchDir dir;
    tracekit::writeTrace(dir.path("empty.pcap"), {});
    makeDatabase(dir.path("empty.pcap"), dir.path("empty.db"));
    const Outcome empty = runReport({"--json", dir.path("empty.db")});
    ASSERT_EQ(empty.status, 0) << empty.err;
    // Every section the program names: the one database listed, every other list empty, the
    // summary and the timeline objects, and what only -x, its connection record or a baseline
    // records null.
    const std::set<std::string> objects = {"summary", "timeline"};
    const std::set<std::string> absent = {
        "not_analysed",   "vlans",         "server_names",     "worst_health",
        "new_endpoints",  "new_servers",   "new_services",     "new_names",
        "gone_endpoints", "gone_services", "endpoint_changes", "endpoint_changes_relative"};
    std::vector<std::string> expected;
    for (const std::string& id : sectionIds()) {
        expected.push_back(id + "=" +
                           (id == "databases"   ? "1"
                            : objects.count(id) ? "object"
                            : absent.count(id)  ? "null"
                                                : "0"));
    }
    EXPECT_EQ(sectionShapes(empty.out), expected);
    EXPECT_EQ(jsonQuery(empty.out, "SELECT ?1 -> '$.summary.first', ?1 -> '$.timeline.buckets'"),
              std::vector<std::string>{"null|[]"});
    const Outcome text = runReport({dir.path("empty.db")});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("Traffic report: 1 database, 0 frames, 0 bytes\nProtocols seen: none"),
              std::string::npos);
    EXPECT_EQ(runReport({"-o", dir.path("empty.html"), dir.path("empty.db")}).status, 0);

    makeDatabase(samples + "/rare-protocols.pcap", dir.path("rare.db"));
    const Outcome rare = runReport({"--json", dir.path("rare.db")});
    EXPECT_EQ(jsonQuery(rare.out, "SELECT json_array_length(?1, '$.tcp_services'), "
                                  "json_array_length(?1, '$.unanswered_syns'), "
                                  "json_array_length(?1, '$.conversations') > 0"),
              std::vector<std::string>{"0|0|1"});
}

// Everything is counted from the frames table, so a mode-2 database reports the same.
TEST(ReportUnusualDatabases, ModeTwoReportsWhatModeOneDoes) {
    ScratchDir dir;
    for (const std::string sample : {"web-session", "port-scan", "rare-protocols"}) {
        makeDatabase(samples + "/" + sample + ".pcap", dir.path(sample + "-1"), 1);
        makeDatabase(samples + "/" + sample + ".pcap", dir.path(sample + "-2"), 2);
        const Outcome one = runReport({"--json", "--top", "0", dir.path(sample + "-1")});
        const Outcome two = runReport({"--json", "--top", "0", dir.path(sample + "-2")});
        const std::string sameParts = "SELECT json_remove(?1, '$.databases', '$.summary.classic')";
        EXPECT_EQ(jsonQuery(one.out, sameParts), jsonQuery(two.out, sameParts)) << sample;
        EXPECT_EQ(jsonQuery(two.out, "SELECT ?1 ->> '$.databases[0].mode'"),
                  std::vector<std::string>{"2"});
    }
}

// A capture from 23:59:58.5 to 00:00:02 lasts 3.5 s, over two days; a frame whose time could
// not be converted counts everywhere but on the clock.
TEST(ReportUnusualDatabases, MidnightAndUnknownTimesKeepTheClockRight) {
    ScratchDir dir;
    const std::string path = dir.path("midnight.db");
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, tidewrack::sql::createFramesOnly, nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "INSERT INTO frames VALUES"
                 "(1, 10,0,0,1, 1000, 10,0,0,2, 80, 'TCP', 'SYN ', '23:59:58.500000', 60),"
                 "(2, 10,0,0,2, 80, 10,0,0,1, 1000, 'TCP', 'SYN ACK ', '--:--:--.250000', 60),"
                 "(3, 10,0,0,1, 1000, 10,0,0,2, 80, 'TCP', 'ACK ', '23:59:59.900000', 60),"
                 "(4, 10,0,0,1, 5000, 10,0,0,3, 53, 'UDP', '', '00:00:01.200000', 80),"
                 "(5, 10,0,0,2, 80, 10,0,0,1, 1000, 'TCP', 'FIN ACK ', '00:00:02.000000', 60)",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);

    const Outcome run = runReport({"--json", path});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(jsonQuery(run.out, "SELECT ?1 ->> '$.summary.frames', ?1 ->> '$.summary.first', "
                                 "?1 ->> '$.summary.last', ?1 ->> '$.summary.duration', "
                                 "?1 ->> '$.summary.days'"),
              std::vector<std::string>{"5|23:59:58.500000|00:00:02.000000|3.5|2"});
    EXPECT_EQ(jsonQuery(run.out, "SELECT value ->> 'day', value ->> 'start', value ->> 'frames' "
                                 "FROM json_each(?1, '$.timeline.buckets')"),
              (std::vector<std::string>{"0|23:59:58|1", "0|23:59:59|1", "1|00:00:00|0",
                                        "1|00:00:01|1", "1|00:00:02|1"}));
    EXPECT_EQ(jsonQuery(run.out, "SELECT value ->> 'protocol', value ->> 'frames_a_to_b', "
                                 "value ->> 'frames_b_to_a', value ->> 'duration' "
                                 "FROM json_each(?1, '$.conversations')"),
              (std::vector<std::string>{"TCP|2|2|3.5", "UDP|1|0|0.0"}));
    EXPECT_EQ(jsonQuery(run.out, "SELECT value ->> 'port', value ->> 'connections' "
                                 "FROM json_each(?1, '$.tcp_services')"),
              std::vector<std::string>{"80|1"});
    const Outcome text = runReport({path}, {"COLUMNS=200"});
    EXPECT_NE(text.out.find("day 0 23:59:58.500000 to day 1 00:00:02.000000 (3.500 s, 731 bit/s, "
                            "1.4 frames/s)"),
              std::string::npos)
        << text.out;
}

// Times that go back and forth between 23:00 and 00:00 cross midnight each time: 10,000 frames
// of them span 5,000 days, which the timeline covers with intervals of 100 days, and a page and
// a document of a few dozen kilobytes.
TEST(ReportUnusualDatabases, ManyDaysWidenTheIntervalsPastAnHour) {
    ScratchDir dir;
    const std::string path = dir.path("days.db");
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, tidewrack::sql::createFramesOnly, nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
                 "INSERT INTO frames SELECT i, 10,0,0,1, 1000, 10,0,0,2, 53, 'UDP', '', "
                 "iif(i % 2, '23:00:00.000000', '00:00:00.000000'), 100 FROM n",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);

    const Outcome json = runReport({"--json", "-o", dir.path("days.html"), path});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(jsonQuery(json.out, "SELECT ?1 ->> '$.timeline.interval', "
                                  "json_array_length(?1, '$.timeline.buckets'), "
                                  "?1 ->> '$.timeline.buckets[#-1].day', ?1 ->> '$.summary.days'"),
              std::vector<std::string>{"8640000|51|5000|5001"});
    EXPECT_LT(json.out.size(), 50000u);
    EXPECT_LT(fileBytes(dir.path("days.html")).size(), 50000u);
    EXPECT_NE(runReport({path}).out.find(
                  "Traffic over time (51 intervals of 100 d, all with traffic; peak "),
              std::string::npos);
}

// The timeline widens its intervals as the span grows, through every kind of interval: frames
// spread evenly over each span (never 12 hours apart, so that each midnight is seen) give the
// interval that keeps the count within 300, every frame in the interval it falls in, and a
// note of how many intervals there are.
TEST(ReportUnusualDatabases, TheTimelineWidensThroughEveryKindOfInterval) {
    ScratchDir dir;
    const struct {
        std::int64_t span, frames, interval;  // seconds, frames, seconds
        const char* width;
    } cases[] = {{250, 300, 1, "1 s"},
                 {2500, 300, 10, "10 s"},
                 {15000, 300, 60, "1 min"},
                 {150000, 300, 600, "10 min"},
                 {900000, 300, 3600, "1 h"},
                 {2000000, 300, 86400, "1 d"},
                 {30000000, 3000, 864000, "10 d"}};
    for (const auto& c : cases) {
        const std::string path = dir.path(std::to_string(c.span) + ".db");
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, tidewrack::sql::createFramesOnly, nullptr, nullptr, nullptr);
        // Frame k at k * span / (frames - 1) seconds, on the clock of its day.
        const std::string last = std::to_string(c.frames - 1);
        const std::string insert =
            "WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < " + last +
            "), t(k, s) AS (SELECT k, k * " + std::to_string(c.span) + " / " + last +
            " FROM n) INSERT INTO frames SELECT k, 10,0,0,1, 1000, 10,0,0,2, 53, 'UDP', '', "
            "printf('%02d:%02d:%02d.000000', s / 3600 % 24, s / 60 % 60, s % 60), 100 FROM t";
        ASSERT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);

        const Outcome json = runReport({"--json", path});
        ASSERT_EQ(json.status, 0) << json.err;
        const std::int64_t buckets = c.span / c.interval + 1;
        // The first interval holds the frames with k * span / (frames - 1) < interval.
        const std::int64_t first = (c.interval * (c.frames - 1) + c.span - 1) / c.span;
        EXPECT_EQ(jsonQuery(json.out, "SELECT ?1 ->> '$.timeline.interval', "
                                      "json_array_length(?1, '$.timeline.buckets'), "
                                      "(SELECT sum(value ->> 'frames') FROM "
                                      "json_each(?1, '$.timeline.buckets')), "
                                      "?1 ->> '$.timeline.buckets[0].frames'"),
                  std::vector<std::string>{std::to_string(c.interval) + "|" +
                                           std::to_string(buckets) + "|" +
                                           std::to_string(c.frames) + "|" + std::to_string(first)})
            << c.width;
        const std::string text = runReport({path}, {"COLUMNS=200"}).out;
        EXPECT_NE(text.find("Traffic over time (" + std::to_string(buckets) + " intervals of " +
                            c.width + ", "),
                  std::string::npos)
            << text;
    }
}

// Far more databases than SQLite attaches at once: every one has its line, and the traffic
// adds up as one body.
TEST(ReportUnusualDatabases, TwoHundredDatabasesMakeOneReport) {
    ScratchDir dir;
    makeDatabase(samples + "/web-session.pcap", dir.path("web.db"));
    std::vector<std::string> args = {"--json", "--top", "0"};
    for (int i = 1; i <= 200; ++i) {
        args.push_back(dir.path("copy-" + std::to_string(i) + ".db"));
        std::filesystem::copy_file(dir.path("web.db"), args.back());
    }
    const Outcome json = runReport(args);
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(jsonQuery(json.out, "SELECT json_array_length(?1, '$.databases'), "
                                  "?1 ->> '$.summary.frames', ?1 ->> '$.summary.bytes', "
                                  "?1 ->> '$.summary.conversations', "
                                  "?1 ->> '$.endpoints[0].frames_sent'"),
              std::vector<std::string>{"200|14400|4185600|14|8400"});
    args.erase(args.begin(), args.begin() + 3);
    const Outcome text = runReport(args);
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = text.out.find("/copy-", at)) != std::string::npos; ++at) {
        ++lines;
    }
    EXPECT_EQ(lines, 200u);
}

// A narrow terminal loses the least needed columns first, and addresses stay whole.
TEST(ReportUnusualDatabases, TerminalReportFitsTheWidthItIsGiven) {
    ScratchDir dir;
    makeDatabase(samples + "/web-session.pcap", dir.path("web.db"));
    const Outcome wide = runReport({dir.path("web.db")}, {"COLUMNS=200"});
    const Outcome narrow = runReport({dir.path("web.db")}, {"COLUMNS=100"});
    const std::string conversations = "  protocol  a                  b  ";
    const auto titles = [&](const std::string& report) {
        const std::size_t at = report.find(conversations);
        return at == std::string::npos ? "" : report.substr(at, report.find('\n', at) - at);
    };
    EXPECT_NE(titles(wide.out).find("  first  "), std::string::npos) << wide.out;
    std::size_t longest = 0;
    for (std::size_t start = 0, end; (end = narrow.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        longest = std::max(longest, end - start);
    }
    EXPECT_LE(longest, 100u) << narrow.out;
    EXPECT_NE(narrow.out.find("  93.184.216.34:443  192.168.1.23:51000  "), std::string::npos);
    EXPECT_NE(titles(narrow.out), "");
    EXPECT_EQ(titles(narrow.out).find("  first  "), std::string::npos) << narrow.out;
}

// Counts of the extended record that no capture could give, a negative count, a VLAN of more
// frames than were delivered, more frames delivered than a sum can hold, are bounded as a
// frame's wire length is: every output is written, no share passes the whole, and no bar
// passes its width; and so are crafted values of the connection record and the seconds.
TEST(ReportUnusualDatabases, CraftedCountsOfTheExtendedRecordAreBounded) {
    ScratchDir dir;
    const std::string db = dir.path("crafted.db"), huge = dir.path("huge.db");
    makeExtendedDatabase(samples + "/office-lan.pcap", db);
    std::filesystem::copy_file(db, huge);
    const std::string flows = dir.path("flows.db");
    makeExtendedDatabase(samples + "/office-lan.pcap", flows, "UTC", 3);
    sqlite3* handle = nullptr;
    for (const auto& [path, sql] :
         {std::pair{db, "INSERT INTO VLANS VALUES (30, -100, 1), (40, 1000000, 1); "
                        "INSERT INTO NOT_ANALYSED VALUES ('crafted', 1000000, -5)"},
          // The connection record and the seconds it is read from: times no clock has, counts
          // and durations of any sign, and texts that are no address or time.
          std::pair{flows, "UPDATE SECONDS SET second = 9223372036854775807 WHERE rowid = 1; "
                           "UPDATE SECONDS SET second = -9223372036854775807 WHERE rowid = 2; "
                           "UPDATE CONNECTIONS SET first_utc = 'soon', client = 'x', "
                           "frames_client = -7, connect_time = -1e300, handshake_time = 1e300, "
                           "retransmissions_client = -3 WHERE rowid = 1; "
                           "UPDATE CONNECTIONS SET last_utc = '9999-12-31T23:59:59.999999Z', "
                           "missed_bytes = 9223372036854775807 WHERE rowid = 2"},
          std::pair{huge, "UPDATE CAPTURE SET frames_delivered = 9000000000000000000; "
                          "INSERT INTO VLANS VALUES (50, 9000000000000000000, 1)"}}) {
        sqlite3_open(path.c_str(), &handle);
        ASSERT_EQ(sqlite3_exec(handle, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(handle);
    }
    const Outcome text = runReport({db}, {"COLUMNS=80"});
    ASSERT_EQ(text.status, 0) << text.err;
    for (std::size_t start = 0, end; (end = text.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        EXPECT_LE(end - start, 80u) << text.out.substr(start, 200);
    }
    const Outcome json = runReport({"--json", "-o", dir.path("page.html"), db});
    ASSERT_EQ(json.status, 0) << json.err;
    // Of the 25 frames delivered, 23 carried the sample's VLANs: at most 2 are left for VLAN 40.
    EXPECT_EQ(jsonQuery(json.out, "SELECT sum(value ->> 'share' BETWEEN 0 AND 1), "
                                  "sum(value ->> 'frames'), min(value ->> 'bytes') >= 0 "
                                  "FROM json_each(?1, '$.vlans')"),
              std::vector<std::string>{"5|25|1"});
    EXPECT_EQ(jsonQuery(json.out, "SELECT value ->> 'frames', value ->> 'bytes' FROM "
                                  "json_each(?1, '$.not_analysed') WHERE value ->> 'kind' = "
                                  "'crafted'"),
              std::vector<std::string>{"21|0"});
    // Given twice, the frames delivered add up past what an integer holds.
    const Outcome sum = runReport({"--csv", "vlans", huge, huge});
    EXPECT_EQ(sum.status, 0) << sum.err;
    const Outcome crafted = runReport({"--json", "-o", dir.path("flows.html"), flows});
    ASSERT_EQ(crafted.status, 0) << crafted.err;
    EXPECT_EQ(jsonQuery(crafted.out, "SELECT min(value ->> 'frames_a_to_b') >= 0 FROM "
                                     "json_each(?1, '$.conversations')"),
              std::vector<std::string>{"1"});
    EXPECT_EQ(runReport({flows, db}, {"COLUMNS=80"}).status, 0);
    // Without CAPTURE's row, written when the run ends, the connection record may lack the
    // connections still open: the frames are read.
    sqlite3_open(db.c_str(), &handle);
    ASSERT_EQ(sqlite3_exec(handle, "DELETE FROM CAPTURE", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(handle);
    EXPECT_EQ(jsonQuery(runReport({"--json", db}).out, "SELECT ?1 ->> '$.databases[0].read'"),
              std::vector<std::string>{"frames"});
}
