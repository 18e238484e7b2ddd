// The extended record (-x), read back with SQLite: the classic tables as without it, frames
// numbered as they come, the frames not analysed by kind, VLANs, the capture's row, the
// connections and the dates of the frames, on traces of every link type it reads and on one it
// refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "database.h"
#include "file_bytes.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace tracekit;
using Rows = std::vector<std::string>;

namespace {

const Address client{192, 168, 1, 10}, server{10, 0, 0, 1};
const Address6 client6{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10},
    server6{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

Bytes udpFrame() {
    return ipv4Frame(17, client, server, udpHeader(5353, 53, 4));
}

Bytes tcp6Frame() {
    return ipv6Frame(6, client6, server6, tcpHeader(1025, 443, 0x12));
}

// What `sql` gives on a database of `records` made with -x and the given options.
class ExtendedRecord : public ::testing::Test {
  protected:
    Outcome analyse(const std::vector<Record>& records, std::vector<std::string> options = {},
                    int linkType = DLT_EN10MB) {
        // libpcap writes the link types it names; another is written as raw IP, then renamed in
        // the file's header.
        const bool named = pcap_datalink_val_to_name(linkType) != nullptr;
        writeTrace(trace, records, named ? linkType : DLT_RAW);
        if (!named) {
            std::string bytes = fileBytes(trace);
            for (int i = 0; i < 4; ++i) {
                bytes[20 + i] = static_cast<char>(linkType >> 8 * i);
            }
            std::ofstream(trace, std::ios::binary) << bytes;
        }
        std::filesystem::remove(db);
        options.insert(options.end(), {"-x", "-r", trace, "-d", db});
        return runProgram(options);
    }
    Rows rows(const std::string& sql) { return query(db, sql); }
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap"), db = dir.path("x.db");
};

}  // namespace

// One of each kind a trace may hold (frames without a time of their own are stamped
// 2023-11-14 22:13:20). The analysed frames keep their place in the trace as their number;
// every other frame is counted by kind and still copied to the dump.
TEST_F(ExtendedRecord, EveryFrameIsAnalysedOrCountedByKind) {
    Record shortIpv4{udpFrame()};
    shortIpv4.capturedLength = 30;
    const std::vector<Record> records = {
        {udpFrame(), 1711929598, 250000},
        {etherTypeFrame(0x0806, Bytes(28, 0))},
        {tagged(ipv4Frame(6, client, server, tcpHeader(1025, 80, 0x02)), {7})},
        {tcp6Frame()},
        {etherTypeFrame(0x0026, Bytes(38, 0x42))},  // 802.3, a length of 38
        {etherTypeFrame(0x88CC, Bytes(30, 0))},
        shortIpv4,
        {tagged(etherTypeFrame(0x86DD, Bytes{0x60, 0, 0, 0}), {100, 7}, true)},  // cut short
        {tagged(udpFrame(), {100, 8}, true), 1711929601, 999999},
    };
    const Outcome run = analyse(records, {"-w", dir.path("copy.pcap")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(
        normalizeDurations(run.out).find("\n4 packets analysed in: hh:mm:ss\n\n"
                                         "5 frames not analysed: 1 malformed IPv6, 1 ARP, 1 LLC, "
                                         "1 too short to decode, 1 EtherType 0x88cc\n\n"),
        std::string::npos)
        << run.out;
    EXPECT_EQ(rows("SELECT frame, sIP4, sPort, dPort, ipproto, time FROM FRAMES"),
              (Rows{"1|10|5353|53|UDP|23:59:58.250000", "3|10|1025|80|TCP|22:13:20.000000",
                    "9|10|5353|53|UDP|00:00:01.999999"}));
    EXPECT_EQ(rows("SELECT * FROM FRAMES6"),
              Rows{"4|2001:db8::10|1025|2001:db8::1|443|TCP|SYN ACK |22:13:20.000000|74"});
    EXPECT_EQ(rows("SELECT * FROM NOT_ANALYSED"),
              (Rows{"malformed IPv6|1|26", "ARP|1|42", "LLC|1|52", "too short to decode|1|46",
                    "EtherType 0x88cc|1|44"}));
    EXPECT_EQ(rows("SELECT * FROM VLANS ORDER BY vlan"), (Rows{"7|1|58", "100|2|80"}));
    EXPECT_EQ(rows("SELECT * FROM CAPTURE"),
              Rows{trace + "|EN10MB|65535||1|0.5.7|2024-03-31T23:59:58.250000Z|"
                           "2024-04-01T00:00:01.999999Z|0|UTC|9|4|||"});
    EXPECT_EQ(rows("SELECT frame, date FROM DAYS"),
              (Rows{"1|2024-03-31", "3|2023-11-14", "9|2024-04-01"}));
    // The SYN and the SYN ACK end idle when frame 9 comes months after them; the SYN ACK's
    // receiver is its client.
    EXPECT_EQ(rows("SELECT * FROM CONNECTIONS"),
              (Rows{"1:nsfnwYLCyGpIFgbxHSdXBAWqawY=|4|6|TCP|192.168.1.10|1025|10.0.0.1|80|3|3|"
                    "2023-11-14T22:13:20.000000Z|2023-11-14T22:13:20.000000Z|0.0|1|58|0|0|0|0|S0|"
                    "S|1|||0|0|0|0|0|0|0|0|0|idle||",
                    "1:IC6Z5rFek8r9YjVC5zv+gpXDvDA=|6|6|TCP|2001:db8::1|443|2001:db8::10|1025|4|4|"
                    "2023-11-14T22:13:20.000000Z|2023-11-14T22:13:20.000000Z|0.0|0|0|0|1|74|0|OTH|"
                    "^h|0|||0|0|0|0|0|0|0|0|0|idle||",
                    "1:bbRDi7i55NdATkBdMp+sr0/ft5Y=|4|17|UDP|192.168.1.10|5353|10.0.0.1|53|1|9|"
                    "2024-03-31T23:59:58.250000Z|2024-04-01T00:00:01.999999Z|3.749999|2|100|8|0|0|"
                    "0|||||||||||||||end||"}));
    EXPECT_EQ(readTrace(dir.path("copy.pcap")).size(), records.size());

    const Outcome verbose = analyse(records, {"-v", "-m", "2"});
    EXPECT_NE(verbose.out.find("\n4: 22:13:20.000000 TCP [2001:db8::10]:1025  ->  "
                               "[2001:db8::1]:443\n9: 00:00:01.999999 UDP 192.168.1.10:5353  ->  "
                               "10.0.0.1:53\n\n4 packets analysed"),
              std::string::npos)
        << verbose.out;
    EXPECT_EQ(verbose.out.find("truncated"), std::string::npos);
}

// On a trace of IPv4 alone, the extended record adds its tables and changes nothing else: the
// console text (but for the spinner, which it writes on a terminal only) and every classic table
// are those of a run without it.
TEST_F(ExtendedRecord, ClassicTablesAndConsoleStayAsTheyAre) {
    const std::string sample = std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap";
    for (const char* mode : {"1", "2"}) {
        const std::string classic = dir.path(std::string("classic-") + mode + ".db"),
                          extended = dir.path(std::string("extended-") + mode + ".db");
        const Outcome plain = runProgram({"-r", sample, "-d", classic, "-m", mode});
        const Outcome x = runProgram({"-x", "-r", sample, "-d", extended, "-m", mode});
        std::string quiet = plain.out;
        for (std::size_t at; (at = quiet.find('\b')) != std::string::npos;) {
            quiet.erase(at, 2);  // a backspace and the spinner's character
        }
        EXPECT_EQ(normalizeDurations(x.out), normalizeDurations(quiet));
        EXPECT_EQ(x.err, plain.err);
        Rows added = tableNames(extended);
        for (const std::string& table : tableNames(classic)) {
            EXPECT_EQ(query(extended, "SELECT * FROM \"" + table + "\""),
                      query(classic, "SELECT * FROM \"" + table + "\""))
                << table;
            std::erase(added, table);
        }
        EXPECT_EQ(added, (Rows{"CAPTURE", "CONNECTIONS", "DAYS", "FRAMES6", "NAMES", "NOT_ANALYSED",
                               "SECONDS", "VLANS"}));
    }
}

// Mode 3 keeps the connection record and no row per frame: the same connections, names and
// frames not analysed as mode 1, and the traffic of each second (which mode 1 keeps too), which
// adds up to the frames mode 1 holds, second by second and protocol by protocol.
TEST_F(ExtendedRecord, FlowsOnlyKeepsTheConnectionsWithoutARowPerFrame) {
    const std::string sample = std::string(TIDEWRACK_SAMPLES_DIR) + "/office-lan.pcap";
    const std::string flows = dir.path("flows.db"), full = dir.path("full.db");
    const Outcome run = runProgram({"-x", "-m", "3", "-r", sample, "-d", flows});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(runProgram({"-x", "-r", sample, "-d", full}).status, 0);
    EXPECT_EQ(tableNames(flows),
              (Rows{"CAPTURE", "CONNECTIONS", "NAMES", "NOT_ANALYSED", "SECONDS", "VLANS"}));
    for (const char* table : {"CONNECTIONS", "NAMES", "NOT_ANALYSED", "SECONDS", "VLANS"}) {
        const std::string all = std::string("SELECT * FROM ") + table + " ORDER BY 1, 2, 3";
        EXPECT_EQ(query(flows, all), query(full, all)) << table;
    }
    const std::string perSecond =
        "SELECT strftime('%s', d.date || ' ' || substr(f.time, 1, 8)) AS second, f.family, "
        "sum(f.frames), sum(f.len) FROM (SELECT frame, time, len, 4 AS family, 1 AS frames FROM "
        "FRAMES UNION ALL SELECT frame, time, len, 6, 1 FROM FRAMES6) AS f JOIN DAYS AS d ON "
        "d.frame = (SELECT max(frame) FROM DAYS WHERE frame <= f.frame) GROUP BY 1, 2 ORDER BY 1, "
        "2";
    EXPECT_EQ(query(flows, "SELECT second, family, sum(frames), sum(bytes) FROM SECONDS GROUP BY "
                           "1, 2 ORDER BY 1, 2"),
              query(full, perSecond));
    EXPECT_EQ(query(flows, "SELECT mode FROM CAPTURE"), Rows{"3"});
    // Without the extended record, mode 3 is unknown, as it always was.
    EXPECT_EQ(runProgram({"-m", "3", "-r", sample, "-d", dir.path("classic.db")}).out,
              "mode: 3 - unknown mode!\n");
}

// Times that cross midnight, jump back by years and forward again: each frame's date, and the
// full local time that the documented query gives. West of UTC with summer time, the offset's
// change is recorded too, so that every frame's time in UTC can be told.
TEST_F(ExtendedRecord, DatesStayExactWhenTimesJump) {
    const std::vector<Record> records = {
        {udpFrame(), 1711929599, 500000},  // 2024-03-31 23:59:59.5 UTC
        {udpFrame(), 1711929600, 250000},  // 2024-04-01 00:00:00.25
        {udpFrame(), 1609502400, 0},       // 2021-01-01 12:00:00
        {udpFrame(), 1609502401, 0},      {udpFrame(), 1711929601, 0},
        {udpFrame(), 4294967295, 0},  // 2106-02-07 06:28:15, the last second of a pcap file
    };
    const std::string fullTimes = "SELECT d.date || ' ' || f.time FROM FRAMES AS f JOIN DAYS AS d "
                                  "ON d.frame = (SELECT max(frame) FROM DAYS WHERE frame <= "
                                  "f.frame) ORDER BY f.frame";
    ASSERT_EQ(analyse(records, {"-m", "2"}).status, 0);
    EXPECT_EQ(rows("SELECT * FROM DAYS"),
              (Rows{"1|2024-03-31|0", "2|2024-04-01|0", "3|2021-01-01|0", "5|2024-04-01|0",
                    "6|2106-02-07|0"}));
    EXPECT_EQ(rows(fullTimes), (Rows{"2024-03-31 23:59:59.500000", "2024-04-01 00:00:00.250000",
                                     "2021-01-01 12:00:00.000000", "2021-01-01 12:00:01.000000",
                                     "2024-04-01 00:00:01.000000", "2106-02-07 06:28:15.000000"}));

    // 2024-03-10 in New York: 01:59:59 EST, then 03:00:01 EDT, then 23:30 EDT and the next day.
    writeTrace(trace, {{udpFrame(), 1710053999},
                       {udpFrame(), 1710054001},
                       {udpFrame(), 1710127800},
                       {udpFrame(), 1710131400}});
    std::filesystem::remove(db);
    const Outcome west = runBinary("/usr/bin/env", {"TZ=EST5EDT,M3.2.0,M11.1.0", TIDEWRACK_BINARY,
                                                    "-x", "-r", trace, "-d", db, "-m", "2"});
    ASSERT_EQ(west.status, 0) << west.out;
    EXPECT_EQ(rows("SELECT * FROM DAYS"),
              (Rows{"1|2024-03-10|-18000", "2|2024-03-10|-14400", "4|2024-03-11|-14400"}));
    EXPECT_EQ(rows("SELECT strftime('%s', d.date || ' ' || substr(f.time, 1, 8), "
                   "-d.utc_offset || ' seconds') FROM FRAMES AS f JOIN DAYS AS d ON d.frame = "
                   "(SELECT max(frame) FROM DAYS WHERE frame <= f.frame) ORDER BY f.frame"),
              (Rows{"1710053999", "1710054001", "1710127800", "1710131400"}));
    EXPECT_EQ(rows("SELECT utc_offset, time_zone, first_utc FROM CAPTURE"),
              Rows{"-18000|EST|2024-03-10T06:59:59.000000Z"});

    // Microseconds of a second or more, as a crafted trace may store them, are carried into the
    // seconds once, so that every time recorded is a time and the tables agree.
    ASSERT_EQ(analyse({{udpFrame(), 1711929599, 1000000}, {udpFrame(), 1711929599, 4294967295}},
                      {"-m", "2"})
                  .status,
              0);
    EXPECT_EQ(rows(fullTimes), (Rows{"2024-04-01 00:00:00.000000", "2024-04-01 01:11:33.967295"}));
    EXPECT_EQ(rows("SELECT * FROM DAYS"), Rows{"1|2024-04-01|0"});
    EXPECT_EQ(rows("SELECT first_utc, last_utc FROM CAPTURE"),
              Rows{"2024-04-01T00:00:00.000000Z|2024-04-01T01:11:33.967295Z"});
}

// The user's filter applies as it does without -x; the frames of the trace that it rejects are
// counted, and numbered, too.
TEST_F(ExtendedRecord, FramesTheFilterRejectsAreCounted) {
    const std::vector<Record> records = {
        {ipv4Frame(6, client, server, tcpHeader(1025, 80, 0x02))},
        {udpFrame()},
        {etherTypeFrame(0x0806, Bytes(28, 0))},
        {udpFrame()},
    };
    ASSERT_EQ(analyse(records, {"-f", "udp", "-w", dir.path("copy.pcap")}).status, 0);
    EXPECT_EQ(rows("SELECT frame FROM FRAMES"), (Rows{"2", "4"}));
    EXPECT_EQ(rows("SELECT * FROM NOT_ANALYSED"), Rows{"rejected by the filter|2|96"});
    EXPECT_EQ(rows("SELECT filter, frames_delivered, frames_analysed FROM CAPTURE"),
              Rows{"udp|4|2"});
    EXPECT_EQ(readTrace(dir.path("copy.pcap")).size(), 2u);
}

// Linux cooked (v1, v2), raw IP and BSD loopback traces give the IPv4 and IPv6 rows their
// Ethernet original gives; a link type that is not read is refused with its name.
TEST_F(ExtendedRecord, OtherLinkTypesAreReadAtTheirOwnOffsets) {
    const Bytes tcp = ipv4Frame(6, client, server, tcpHeader(1025, 80, 0x12));
    const Bytes ipv6 = tcp6Frame();
    const std::string frames = "SELECT sIP1, sIP4, dIP1, sPort, dPort, ipproto, flags FROM FRAMES "
                               "UNION ALL SELECT sIP, '', dIP, sPort, dPort, ipproto, flags "
                               "FROM FRAMES6";
    ASSERT_EQ(analyse({{tcp}, {ipv6}, {etherTypeFrame(0x0806, Bytes(28, 0))}}).status, 0);
    const Rows expected = rows(frames);
    ASSERT_EQ(expected, (Rows{"192|10|10|1025|80|TCP|SYN ACK ",
                              "2001:db8::10||2001:db8::1|1025|443|TCP|SYN ACK "}));
    const struct {
        int linkType;
        Bytes (*wrap)(const Bytes&);
        const char* name;
    } types[] = {
        {DLT_LINUX_SLL, [](const Bytes& f) { return cookedFrame(f, 1); }, "LINUX_SLL"},
        {DLT_LINUX_SLL2, [](const Bytes& f) { return cookedFrame(f, 2); }, "LINUX_SLL2"},
        {DLT_RAW, rawIpFrame, "RAW"},
        {DLT_NULL, [](const Bytes& f) { return loopbackFrame(f, f[12] == 0x08 ? 2 : 30); }, "NULL"},
    };
    for (const auto& type : types) {
        const Outcome run = analyse({{type.wrap(tcp)}, {type.wrap(ipv6)}}, {}, type.linkType);
        EXPECT_EQ(run.status, 0) << type.name << run.out;
        EXPECT_EQ(rows(frames), expected) << type.name;
        EXPECT_EQ(rows("SELECT link_type, frames_analysed FROM CAPTURE"),
                  Rows{std::string(type.name) + "|2"});
    }
    // The link type decides the version of a raw IP link (tshark reads the other version as
    // IP of the link's own, and so malformed); OpenBSD's raw IP link type is read as well.
    const Bytes raw4 = rawIpFrame(tcp), raw6 = rawIpFrame(ipv6);
    for (const auto& [linkType, name, analysedRow] :
         {std::tuple{DLT_IPV4, "IPV4", expected[0]}, std::tuple{DLT_IPV6, "IPV6", expected[1]},
          std::tuple{14, "14", expected[0]}}) {
        const Outcome run = analyse({{raw4}, {raw6}}, {}, linkType);
        EXPECT_EQ(run.status, 0) << name << run.out;
        EXPECT_EQ(rows(frames), linkType == 14 ? expected : Rows{analysedRow}) << name;
        EXPECT_EQ(rows("SELECT kind, frames FROM NOT_ANALYSED"),
                  linkType == 14 ? Rows{} : Rows{"IP version not of the link type|1"})
            << name;
    }
    // BSD loopback families as tshark reads them: a 16-bit family in either half and either
    // byte order, an EtherType where a family would be too large, and Linux's AF_INET6 (10),
    // which is not a BSD family.
    std::vector<Record> loopback;
    for (const Bytes& header : {Bytes{0, 2, 0, 0}, Bytes{0, 0, 2, 0}, Bytes{0, 0, 0, 2},
                                Bytes{0, 0, 8, 0}, Bytes{10, 0, 0, 0}}) {
        Bytes frame = header;
        frame.insert(frame.end(), raw4.begin(), raw4.end());
        loopback.push_back({frame});
    }
    ASSERT_EQ(analyse(loopback, {}, DLT_NULL).status, 0);
    EXPECT_EQ(rows("SELECT count(*) FROM FRAMES"), Rows{"4"});
    EXPECT_EQ(rows("SELECT * FROM NOT_ANALYSED"), Rows{"address family 10|1|44"});

    const Outcome wireless = analyse({{tcp}}, {}, DLT_IEEE802_11);
    EXPECT_EQ(wireless.status, 1);
    EXPECT_EQ(wireless.out,
              "\nUnable to analyse " + trace + ": link type IEEE802_11 (802.11) is not read.\n");
    EXPECT_EQ(wireless.err, "tidewrack: unable to analyse " + trace +
                                ": link type IEEE802_11 (802.11) is not read\n");
    EXPECT_FALSE(std::filesystem::exists(db));
    // One that libpcap has no name for is named by its number.
    EXPECT_EQ(analyse({{tcp}}, {}, 300).out,
              "\nUnable to analyse " + trace + ": link type 300 is not read.\n");
}
