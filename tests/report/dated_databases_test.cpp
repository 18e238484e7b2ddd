// Databases made with tidewrack -x, which record the date of every frame: the report places them
// on one axis of real time. A trace split at midnight into two files keeps its true span, a
// thousand hourly files (the README's recipe for rotated captures) are listed in date order
// whatever order they are given in, times are told in the one local zone of the databases or
// in UTC when they have several (and the windows of --from and --to as well), a database whose time
// goes back is named, and a classic database among them turns the report back to its days, naming
// the classic one.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>

#include "report_test_kit.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace reportkit;
namespace fs = std::filesystem;

namespace {

constexpr long newYear = 1735689600;  // 2025-01-01 00:00:00 UTC

// A DNS query of host 10.0.0.`host`, stamped `seconds` and `microseconds`.
tracekit::Record query(int host, long seconds, long microseconds = 0) {
    tracekit::Bytes udp = tracekit::udpHeader(static_cast<std::uint16_t>(40000 + host), 53, 20);
    return {tracekit::ipv4Frame(17,
                                {10, 0, static_cast<std::uint8_t>(host / 256),
                                 static_cast<std::uint8_t>(host % 256)},
                                {10, 255, 0, 1}, udp),
            seconds, microseconds};
}

// A trace from 23:59:47 on New Year's Eve to 00:00:12.602 (UTC), a frame a second, cut at
// midnight into before.pcap and after.pcap.
void splitAtMidnight(const ScratchDir& dir) {
    std::vector<tracekit::Record> before, after;
    for (long s = -13; s < 0; ++s) {
        before.push_back(query(1, newYear + s));
    }
    for (long s = 0; s <= 12; ++s) {
        after.push_back(query(2, newYear + s));
    }
    after.push_back(query(2, newYear + 12, 602000));
    tracekit::writeTrace(dir.path("before.pcap"), before);
    tracekit::writeTrace(dir.path("after.pcap"), after);
}

}  // namespace

TEST(ReportDatedDatabases, ATraceSplitAtMidnightReportsItsTrueSpan) {
    ScratchDir dir;
    splitAtMidnight(dir);
    makeExtendedDatabase(dir.path("before.pcap"), dir.path("before.db"));
    makeExtendedDatabase(dir.path("after.pcap"), dir.path("after.db"));
    // Given the wrong way round, as a shell's glob may.
    const Outcome json = runReport({"--json", dir.path("after.db"), dir.path("before.db")});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(jsonQuery(json.out, "SELECT ?1 ->> '$.summary.duration', ?1 ->> '$.summary.days', "
                                  "?1 ->> '$.summary.first_utc', ?1 ->> '$.summary.last_utc', "
                                  "?1 ->> '$.summary.first', ?1 ->> '$.summary.time_zone', "
                                  "json_array_length(?1, '$.timeline.buckets')"),
              std::vector<std::string>{"25.602|2|2024-12-31T23:59:47.000000Z|"
                                       "2025-01-01T00:00:12.602000Z|23:59:47.000000|UTC|26"});
    EXPECT_EQ(jsonQuery(json.out, "SELECT substr(value ->> 'path', -9), value ->> 'first_utc', "
                                  "value ->> 'record', value ->> 'time_goes_back' "
                                  "FROM json_each(?1, '$.databases')"),
              // Read from the connection record, which does not tell whether time goes back.
              (std::vector<std::string>{"before.db|2024-12-31T23:59:47.000000Z|extended|",
                                        "/after.db|2025-01-01T00:00:00.000000Z|extended|"}));
    EXPECT_EQ(jsonQuery(json.out,
                        "SELECT value ->> 'day', value ->> 'start', value ->> 'start_utc' "
                        "FROM json_each(?1, '$.timeline.buckets') WHERE key IN (12, 13)"),
              (std::vector<std::string>{"0|23:59:59|2024-12-31T23:59:59.000000Z",
                                        "1|00:00:00|2025-01-01T00:00:00.000000Z"}));
    const Outcome text = runReport({dir.path("after.db"), dir.path("before.db")}, {"COLUMNS=200"});
    EXPECT_NE(text.out.find("2 databases, 27 frames, 1,674 bytes, 2024-12-31 23:59:47.000000 to "
                            "2025-01-01 00:00:12.602000 UTC (25.602 s, "),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  2025-01-01 00:00:12  "), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("Classic"), std::string::npos);
}

// Times are told in the databases' own zone when they share one offset, else in UTC; the
// intervals start on local midnight and whole hours.
TEST(ReportDatedDatabases, TimesAreToldInTheOneZoneOrInUtc) {
    ScratchDir dir;
    splitAtMidnight(dir);
    makeExtendedDatabase(dir.path("before.pcap"), dir.path("paris.db"), "Europe/Paris");
    makeExtendedDatabase(dir.path("after.pcap"), dir.path("york.db"), "America/New_York");
    const Outcome paris = runReport({"--json", dir.path("paris.db")});
    ASSERT_EQ(paris.status, 0) << paris.err;
    EXPECT_EQ(jsonQuery(paris.out, "SELECT ?1 ->> '$.summary.time_zone', "
                                   "?1 ->> '$.summary.first', ?1 ->> '$.summary.first_utc', "
                                   "?1 ->> '$.timeline.buckets[0].day', ?1 ->> '$.summary.days'"),
              std::vector<std::string>{
                  "UTC+01:00 (CET)|00:59:47.000000|2024-12-31T23:59:47.000000Z|0|1"});
    EXPECT_NE(runReport({dir.path("paris.db")}, {"COLUMNS=200"})
                  .out.find("2025-01-01 00:59:47.000000 to 2025-01-01 00:59:59.000000 UTC+01:00 "
                            "(CET) (12.000 s, "),
              std::string::npos);
    const Outcome both = runReport({"--json", dir.path("york.db"), dir.path("paris.db")});
    EXPECT_EQ(jsonQuery(both.out, "SELECT ?1 ->> '$.summary.time_zone', ?1 ->> '$.summary.first', "
                                  "?1 ->> '$.summary.last', ?1 ->> '$.summary.duration', "
                                  "?1 ->> '$.databases[0].path' LIKE '%paris.db'"),
              std::vector<std::string>{"UTC|23:59:47.000000|00:00:12.602000|25.602|1"});
}

// A window of --from and --to is told in the zone of the report's heading: a date and time is a
// point in it, a time of day applies to every date, and a window whose end is earlier in the day
// than its start runs across midnight.
TEST(ReportDatedDatabases, AWindowIsToldInTheHeadingsZone) {
    ScratchDir dir;
    splitAtMidnight(dir);
    makeExtendedDatabase(dir.path("before.pcap"), dir.path("paris.db"), "Europe/Paris");
    makeExtendedDatabase(dir.path("after.pcap"), dir.path("york.db"), "America/New_York");
    const auto frames = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "--json");
        const Outcome run = runReport(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return jsonQuery(run.out, "SELECT ?1 ->> '$.summary.frames', ?1 ->> '$.summary.filter'")
            .at(0);
    };
    // Paris's frames, a second apart from 00:59:47 to 00:59:59 its time: five of them.
    EXPECT_EQ(frames({"--from", "2025-01-01 00:59:50", "--to", "2025-01-01T00:59:55",
                      dir.path("paris.db")}),
              "5|--from 2025-01-01 00:59:50 --to 2025-01-01T00:59:55");
    EXPECT_EQ(frames({"--from", "00:59:50", "--to", "00:59:55", dir.path("paris.db")}),
              "5|--from 00:59:50 --to 00:59:55");
    // With New York's the heading is in UTC: two frames on each side of midnight.
    EXPECT_EQ(frames({"--from", "2024-12-31 23:59:58", "--to", "2025-01-01 00:00:02",
                      dir.path("paris.db"), dir.path("york.db")})
                  .substr(0, 2),
              "4|");
    EXPECT_EQ(frames({"--from", "23:59:58", "--to", "00:00:02", dir.path("paris.db"),
                      dir.path("york.db")})
                  .substr(0, 2),
              "4|");
}

// A trace whose clock was set back midway: the report says so, and spans its earliest to its
// latest time; a classic database with it turns the whole report back to its days.
TEST(ReportDatedDatabases, TimeGoingBackIsToldAndAClassicDatabaseIsNamed) {
    ScratchDir dir;
    tracekit::writeTrace(dir.path("back.pcap"),
                         {query(1, newYear + 100), query(1, newYear + 200), query(1, newYear + 150),
                          query(1, newYear + 300), query(1, newYear + 250)});
    makeExtendedDatabase(dir.path("back.pcap"), dir.path("back.db"));
    // Read frame by frame: the connection record does not keep the frames' order, and leaves
    // it unknown.
    const std::vector<std::string> byFrame = {"TIDEWRACK_REPORT_FRAMES=1"};
    const std::string told = "SELECT ?1 ->> '$.databases[0].time_goes_back', "
                             "?1 ->> '$.databases[0].duration', ?1 ->> '$.summary.first'";
    EXPECT_EQ(jsonQuery(runReport({"--json", dir.path("back.db")}, byFrame).out, told),
              std::vector<std::string>{"2|200.0|00:01:40.000000"});
    EXPECT_EQ(jsonQuery(runReport({"--json", dir.path("back.db")}).out, told),
              std::vector<std::string>{"|200.0|00:01:40.000000"});
    EXPECT_NE(runReport({dir.path("back.db")}, {"COLUMNS=200", byFrame[0]})
                  .out.find("Databases (time goes back in " + dir.path("back.db") +
                            " (2 times); first and last are the earliest and latest times)"),
              std::string::npos);

    splitAtMidnight(dir);
    makeDatabase(dir.path("before.pcap"), dir.path("classic.db"));
    const Outcome mixed = runReport({"--json", dir.path("back.db"), dir.path("classic.db")});
    ASSERT_EQ(mixed.status, 0) << mixed.err;
    EXPECT_EQ(jsonQuery(mixed.out,
                        "SELECT ?1 ->> '$.summary.classic' LIKE '%/classic.db', "
                        "?1 -> '$.summary.first_utc', ?1 -> '$.summary.time_zone', "
                        "?1 -> '$.databases[0].time_goes_back', ?1 ->> '$.databases[1].record', "
                        "json_array_length(?1, '$.not_analysed'), ?1 ->> '$.summary.days', "
                        "?1 ->> '$.databases[0].read'"),
              std::vector<std::string>{"1|null|null|null|classic|0|1|frames"});
    // A database of flows only has no frames to fall back to: on the classic days it is read
    // from its record, its local times on a line of days of its own, as a -x database's frames.
    makeExtendedDatabase(dir.path("back.pcap"), dir.path("flows.db"), "UTC", 3);
    const std::string flowsSql =
        "SELECT ?1 ->> '$.databases[0].read', ?1 ->> '$.databases[0].frames', "
        "?1 ->> '$.databases[0].first', ?1 ->> '$.databases[0].last', ?1 ->> '$.summary.frames'";
    EXPECT_EQ(jsonQuery(runReport({"--json", dir.path("flows.db"), dir.path("classic.db")}).out,
                        flowsSql),
              std::vector<std::string>{"connections|5|00:01:40.000000|00:05:00.000000|18"});
    // A window of time on it keeps the connections active in it, whole, and the seconds in it.
    // Its UDP flow is three connections (a minute idle ends one): at 00:01:40, from 00:02:30 to
    // 00:03:20 (a frame whose time goes back joins it), and from 00:04:10 to 00:05:00. No frame
    // falls from 00:02:40 to 00:02:50, but the second connection runs across it.
    const std::string windowSql =
        "SELECT ?1 ->> '$.summary.frames', ?1 ->> '$.summary.conversations', "
        "json_array_length(?1, '$.timeline.buckets')";
    const auto window = [&](const std::string& from, const std::string& to) {
        return jsonQuery(
            runReport({"--json", "--from", from, "--to", to, dir.path("flows.db")}).out, windowSql);
    };
    EXPECT_EQ(window("00:02:40", "00:02:50"), std::vector<std::string>{"2|1|0"});
    EXPECT_EQ(window("00:02:00", "00:02:40"), std::vector<std::string>{"2|1|1"});
    EXPECT_EQ(window("00:02:00", "00:02:20"), std::vector<std::string>{"0|0|0"});
    EXPECT_EQ(window("00:01:00", "00:06:00"), std::vector<std::string>{"5|1|201"});
    EXPECT_NE(runReport({dir.path("back.db"), dir.path("classic.db")}, {"COLUMNS=300"})
                  .out.find("\nClassic record (IPv4 only, no dates): " + dir.path("classic.db")),
              std::string::npos);
}

// A database whose capture ended in a read error (CAPTURE.read_error, libpcap's text) is named
// with it in every output, its text made safe as every text from a file is; one whose capture
// ended cleanly, or that was made before the column, has none.
TEST(ReportDatedDatabases, ACaptureThatEndedInAReadErrorIsNamed) {
    ScratchDir dir;
    const std::string cut = dir.path("cut.db"), clean = dir.path("clean.db"),
                      older = dir.path("older.db");
    for (const std::string& db : {cut, clean, older}) {
        makeExtendedDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/office-lan.pcap", db);
    }
    for (const auto& [db, sql] :
         {std::pair{cut, "UPDATE CAPTURE SET read_error = 'truncated dump file; tried to read "
                         "100 captured bytes, only got 40' || char(27)"},
          std::pair{older, "ALTER TABLE CAPTURE DROP COLUMN read_error"}}) {
        sqlite3* handle = nullptr;
        sqlite3_open(db.c_str(), &handle);
        ASSERT_EQ(sqlite3_exec(handle, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(handle);
    }
    const std::string told = "the capture of " + cut +
                             " ended in a read error after 25 frames: \"truncated dump file; "
                             "tried to read 100 captured bytes, only got 40?\"; read from the "
                             "connection record and the traffic by second (CONNECTIONS, "
                             "SECONDS), not frame by frame";
    const Outcome text = runReport({clean, cut, older}, {"COLUMNS=400"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("\nDatabases (" + told + ")\n"), std::string::npos) << text.out;
    const Outcome json = runReport({"--json", "-o", dir.path("page.html"), clean, cut, older});
    EXPECT_EQ(jsonQuery(json.out, "SELECT json_quote(value -> 'read_error') FROM "
                                  "json_each(?1, '$.databases')"),
              (std::vector<std::string>{"null",
                                        "\"truncated dump file; tried to read 100 captured bytes, "
                                        "only got 40\\u001b\"",
                                        "null"}));
    EXPECT_NE(fileBytes(dir.path("page.html")).find(">the capture of " + cut), std::string::npos);
    // A filter leaves the databases' own figures as they are.
    const Outcome csv = runReport({"--csv", "databases", "--host", "10.10.0.23", cut});
    EXPECT_NE(csv.out.find(",\"truncated dump file; tried to read 100 captured bytes, only got "
                           "40?\"\n"),
              std::string::npos)
        << csv.out;
}

// The README's recipe for rotated captures, run as it stands on a thousand hourly files named
// as tcpdump -G names them; the report, given their databases shuffled, lists them in date
// order.
TEST(ReportDatedDatabases, AThousandRotatedCapturesAreListedInDateOrder) {
    constexpr int files = 1000;
    ScratchDir dir;
    const std::string commands = readmeRecipe("rotated captures");
    ASSERT_NE(commands, "") << "no recipe for rotated captures in the README";
    for (int i = 0; i < files; ++i) {
        const long start = newYear + 3600L * i;
        const std::time_t t = start;
        char name[64];
        std::strftime(name, sizeof name, "capture-%Y%m%d-%H%M%S.pcap", std::gmtime(&t));
        tracekit::writeTrace(dir.path(name), {query(i, start), query(i, start + 1, 500000)});
    }
    const std::string bin = fs::path(TIDEWRACK_REPORT_BINARY).parent_path().string();
    const Outcome run =
        runBinary("/usr/bin/env", {"-C", dir.path(""), "PATH=" + bin + ":" + std::getenv("PATH"),
                                   "sh", "-ec", commands});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(fs::is_regular_file(dir.path("traffic.html")));

    std::vector<std::string> args;
    for (const auto& entry : fs::directory_iterator(dir.path("dbs"))) {
        args.push_back(entry.path().string());
    }
    ASSERT_EQ(args.size(), static_cast<std::size_t>(files));
    std::shuffle(args.begin(), args.end(), std::mt19937(20));
    args.insert(args.begin(), {"--json", "--top", "0"});
    const Outcome json = runReport(args);
    ASSERT_EQ(json.status, 0) << json.err;
    // Every database in its hour's place: the n-th shown starts n hours into the year, and its
    // name says so.
    EXPECT_EQ(jsonQuery(json.out,
                        "SELECT count(*), sum((unixepoch(substr(value ->> 'first_utc', 1, 19)) - "
                        "1735689600) / 3600 = key), sum(substr(value ->> 'path', -18, 8) = "
                        "replace(substr(value ->> 'first_utc', 1, 10), '-', '')) "
                        "FROM json_each(?1, '$.databases')"),
              std::vector<std::string>{"1000|1000|1000"});
    EXPECT_EQ(jsonQuery(json.out,
                        "SELECT ?1 ->> '$.summary.first_utc', ?1 ->> '$.summary.last_utc', "
                        "?1 ->> '$.summary.frames', ?1 ->> '$.timeline.interval'"),
              std::vector<std::string>{
                  "2025-01-01T00:00:00.000000Z|2025-02-11T15:00:01.500000Z|2000|86400"});
}

namespace {

// Three stretches of traffic, a query every 10 s: 4 h from 2015-01-01 09:00, 2 h from
// 2021-01-03 14:00 and, after the clock was set back, 1 h from 2018-06-01 00:00 (UTC); the
// first alone in one file and the other two in another, as a rotated capture has them.
void threeStretches(const ScratchDir& dir) {
    constexpr long first = 1420102800, second = 1609682400, third = 1527811200;
    std::vector<tracekit::Record> early, late;
    for (long s = 0; s < 4 * 3600; s += 10) {
        early.push_back(query(1, first + s));
    }
    for (long s = 0; s < 2 * 3600; s += 10) {
        late.push_back(query(2, second + s));
    }
    for (long s = 0; s < 3600; s += 10) {
        late.push_back(query(3, third + s));
    }
    tracekit::writeTrace(dir.path("early.pcap"), early);
    tracekit::writeTrace(dir.path("late.pcap"), late);
    std::vector<tracekit::Record> all = early;
    all.insert(all.end(), late.begin(), late.end());
    tracekit::writeTrace(dir.path("all.pcap"), all);
}

}  // namespace

// Years between stretches of traffic: the rates are over the time that holds traffic, the
// timeline's intervals are as fine as the stretches need, each gap one row that says how long
// it is, and the peaks are over one second.
TEST(ReportDatedDatabases, IdleGapsAreLeftOutOfRatesAndCollapsedInTheTimeline) {
    ScratchDir dir;
    threeStretches(dir);
    makeExtendedDatabase(dir.path("all.pcap"), dir.path("all.db"));
    const Outcome json = runReport({"--json", "--top", "0", dir.path("all.db")});
    ASSERT_EQ(json.status, 0) << json.err;
    // Active 3 h 59 min 50 s + 1 h 59 min 50 s + 59 min 50 s; 2,520 frames of 62 bytes, all of
    // them received by 10.255.0.1, whose rate leaves the gaps out too.
    EXPECT_EQ(jsonQuery(json.out, "SELECT ?1 ->> '$.summary.active', ?1 ->> '$.summary.idle_gaps', "
                                  "?1 ->> '$.summary.bits_per_second', ?1 ->> '$.summary.frames', "
                                  "?1 ->> '$.endpoints[0].bits_per_second'"),
              std::vector<std::string>{"25170.0|2|49.659|2520|49.659"});
    EXPECT_EQ(jsonQuery(json.out,
                        "SELECT ?1 ->> '$.timeline.interval', ?1 ->> '$.timeline.idle_gaps', "
                        "json_array_length(?1, '$.timeline.buckets'), "
                        "?1 ->> '$.timeline.peak_over', ?1 ->> '$.timeline.peak_bits_per_second', "
                        "?1 ->> '$.timeline.peak_at_utc'"),
              std::vector<std::string>{"600|2|44|1|496.0|2015-01-01T09:00:00.000000Z"});
    // The gaps, from the last frame before each to the first after it, in time order.
    EXPECT_EQ(jsonQuery(json.out, "SELECT value ->> 'start_utc', value ->> 'idle', "
                                  "value ->> 'frames' FROM json_each(?1, '$.timeline.buckets') "
                                  "WHERE value ->> 'idle' IS NOT NULL"),
              (std::vector<std::string>{"2015-01-01T13:00:00.000000Z|107694010.0|0",
                                        "2018-06-01T01:00:00.000000Z|81867610.0|0"}));
    const Outcome text = runReport({dir.path("all.db")}, {"COLUMNS=400"});
    EXPECT_NE(text.out.find("(6 years 4 d; active 6 h 59 min, in 3 stretches of traffic: 50 "
                            "bit/s, 0.1 frames/s)"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("Traffic over time (42 intervals of 10 min, all with traffic; 2 idle "
                            "gaps collapsed: no traffic for 3 years 151 d, 2 years 217 d; peak "
                            "over 1 s: 496 bit/s at 2015-01-01 09:00:00, 1.0 frames/s)"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("Endpoints (all 4, by bytes sent and received; rates over the active "
                            "time from first to last, the idle gaps left out)"),
              std::string::npos);
}

// The page's time axis: ticks on whole hours, a band for each gap, and, of a rotated set, the
// start of each database marked.
TEST(ReportDatedDatabases, ThePageMarksGapsRoundTicksAndTheStartsOfDatabases) {
    ScratchDir dir;
    threeStretches(dir);
    makeExtendedDatabase(dir.path("early.pcap"), dir.path("early.db"));
    makeExtendedDatabase(dir.path("late.pcap"), dir.path("late.db"));
    ASSERT_EQ(
        runReport({"-o", dir.path("page.html"), dir.path("late.db"), dir.path("early.db")}).status,
        0);
    const std::string page = fileBytes(dir.path("page.html"));
    const std::size_t from = page.find("<section id=\"timeline\">");
    const std::string timeline = page.substr(from, page.find("</section>", from) - from);
    std::size_t ticks = 0;
    const std::regex tick("<span class=\"(first|middle|last)[^>]*>([^<]*<br>[^<]*)</span>");
    for (std::sregex_iterator at(timeline.begin(), timeline.end(), tick), end; at != end; ++at) {
        ++ticks;
        EXPECT_TRUE(
            std::regex_match((*at)[2].str(), std::regex("\\d{4}-\\d\\d-\\d\\d<br>\\d\\d:00")))
            << (*at)[2];
    }
    EXPECT_GE(ticks, 6u);
    // Two charts, each with two bands and two starts marked; the bands are too close for two
    // labels, and the first is labelled.
    const auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = timeline.find(what); at != std::string::npos;
             at = timeline.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("<rect class=\"idle\""), 4u);
    EXPECT_EQ(count(">no traffic for 3 years 151 d</span>"), 2u);
    EXPECT_EQ(count(">no traffic for"), 2u);
    EXPECT_EQ(count("<path class=\"start\" d=\"M0.0,200V184M"), 2u) << timeline;
    EXPECT_EQ(count("start of a database"), 2u);

    // Two frames two hours apart: two stretches of one interval each, drawn within the plot.
    tracekit::writeTrace(dir.path("two.pcap"), {query(1, newYear), query(2, newYear + 7200)});
    makeExtendedDatabase(dir.path("two.pcap"), dir.path("two.db"));
    ASSERT_EQ(runReport({"-o", dir.path("two.html"), dir.path("two.db")}).status, 0);
    const std::string two = fileBytes(dir.path("two.html"));
    const std::regex point("[ \"](-?[0-9.]+),[0-9.]+");
    std::size_t points = 0;
    for (std::sregex_iterator at(two.begin(), two.end(), point), end; at != end; ++at, ++points) {
        const double x = std::stod((*at)[1].str());
        EXPECT_TRUE(x >= 0 && x <= 1000) << (*at)[0];
    }
    EXPECT_GT(points, 8u);
}
