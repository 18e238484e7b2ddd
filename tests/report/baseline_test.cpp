// What is new and what is gone since a baseline, on two samples: the web session as the
// baseline, the port scan as the traffic to look at. The results are worked out by hand from the
// samples' own figures (the README's tables): the scan's target is the laptop of the web
// session, which served nothing there, and the scanner is new. The web session is active for
// 4.4898 s and the scan for 0.0178 s, so their changes are measured by rates: from the bytes
// before times 0.0178 / 4.4898. With --port 443 the filter holds on both sides: the web
// session's three HTTPS conversations (3,357 bytes each) against the scan's one probe of port
// 443 (three frames of 54 bytes). And a day against three hours of the same traffic, made with
// tracekit: compared by rates, what kept its rate is unchanged.
#include <gtest/gtest.h>

#include "report_test_kit.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace reportkit;

namespace {

class ReportBaseline : public ::testing::Test {
  protected:
    void SetUp() override {
        makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", web);
        makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/port-scan.pcap", scan);
    }

    std::string report(std::vector<std::string> options) {
        options.insert(options.end(), {"--json", "--top", "0", "--baseline", web, scan});
        const Outcome run = runReport(options);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }

    static std::vector<std::string> rows(const std::string& json, const std::string& section,
                                         const std::string& members) {
        return jsonQuery(json, "SELECT " + members + " FROM json_each(?1, '$." + section + "')");
    }

    ScratchDir dir;
    const std::string web = dir.path("web.db"), scan = dir.path("scan.db");
};

}  // namespace

TEST_F(ReportBaseline, TheScannerAndTheLaptopsServicesAreNew) {
    const std::string json = report({});
    EXPECT_EQ(jsonQuery(json, "SELECT ?1 ->> '$.summary.baseline'"), std::vector<std::string>{web});
    EXPECT_EQ(rows(json, "new_endpoints",
                   "value ->> 'address', value ->> 'bytes_sent', value ->> 'bytes_received'"),
              std::vector<std::string>{"203.0.113.66|1296|1080"});
    // The laptop served nothing in the web session: every probed port of it is a new server
    // end, answered (three frames) or not (two).
    const std::vector<std::string> servers =
        rows(json, "new_servers", "value ->> 'server', value ->> 'frames'");
    EXPECT_EQ(servers.size(), 20u);
    EXPECT_EQ(servers.front(), "192.168.1.23:22|3");
    EXPECT_EQ(servers.back(), "192.168.1.23:8443|2");
    // The web session's servers were on ports 80 and 443: of the 18 other ports, the two that
    // accepted the scanner's SYN are new services; those that only refused it are none.
    EXPECT_EQ(rows(json, "new_services", "group_concat(value ->> 'port', ' ')"),
              std::vector<std::string>{"22 5432"});
    // Bytes sent and received: the laptop 5,436 + 15,492 before, 1,080 + 1,296 now, where 83
    // were due at its rate before; the web servers, the resolver and the router are gone (the
    // 42 bytes of 10.20.0.1 come to none over the scan's time); the scanner has come.
    EXPECT_EQ(jsonQuery(json,
                        "SELECT ?1 ->> '$.summary.active', ?1 ->> '$.summary.baseline_active', "
                        "?1 ->> '$.summary.compared'"),
              std::vector<std::string>{"0.0178|4.4898|rates"});
    EXPECT_EQ(rows(json, "endpoint_changes",
                   "value ->> 'address', value ->> 'bytes_before', value ->> 'bytes_now', "
                   "value ->> 'change', round(value ->> 'relative', 4)"),
              (std::vector<std::string>{"203.0.113.66|0|2376|2376|",
                                        "192.168.1.23|20928|2376|2293|27.6265",
                                        "93.184.216.34|6798|0|-27|", "140.82.121.4|6768|0|-27|",
                                        "151.101.1.69|6714|0|-27|", "192.168.1.1|606|0|-2|"}));
    EXPECT_EQ(rows(json, "endpoint_changes_relative", "value ->> 'address'"),
              std::vector<std::string>{"192.168.1.23"});
    EXPECT_EQ(
        rows(json, "gone_endpoints", "group_concat(value ->> 'address', ' ')"),
        std::vector<std::string>{"93.184.216.34 140.82.121.4 151.101.1.69 192.168.1.1 10.20.0.1"});
    // The web session's DNS queries, mDNS and a traceroute probe; the scan is all TCP.
    EXPECT_EQ(rows(json, "gone_services",
                   "value ->> 'protocol', value ->> 'port', value ->> 'conversations', "
                   "value ->> 'bytes'"),
              (std::vector<std::string>{"UDP|53|3|492", "UDP|5353|1|72", "UDP|33434|1|54"}));
}

TEST_F(ReportBaseline, AFilterHoldsOnBothSides) {
    const std::string json = report({"--port", "443"});
    EXPECT_EQ(rows(json, "new_endpoints",
                   "value ->> 'address', value ->> 'frames_sent', value ->> 'bytes_sent', "
                   "value ->> 'frames_received'"),
              std::vector<std::string>{"203.0.113.66|2|108|1"});
    EXPECT_EQ(rows(json, "new_servers",
                   "value ->> 'protocol', value ->> 'server', value ->> 'service', "
                   "value ->> 'conversations', value ->> 'bytes'"),
              std::vector<std::string>{"TCP|192.168.1.23:443|HTTPS|1|162"});
    EXPECT_EQ(rows(json, "new_services", "value ->> 'port'"), std::vector<std::string>{});
    // Active for 2.9585 s before and 0.00021 s now: the laptop's 10,071 bytes come to 1 over
    // the scan's time, the web servers' to none.
    EXPECT_EQ(
        rows(json, "endpoint_changes",
             "value ->> 'address', value ->> 'bytes_before', value ->> 'bytes_now', "
             "value ->> 'change', value ->> 'relative'"),
        (std::vector<std::string>{"203.0.113.66|0|162|162|", "192.168.1.23|10071|162|161|161"}));
    // Without a baseline its sections are null, and the text leaves them out.
    const Outcome plain = runReport({"--json", scan});
    EXPECT_EQ(jsonQuery(plain.out, "SELECT ?1 -> '$.new_endpoints', ?1 -> '$.endpoint_changes', "
                                   "?1 -> '$.summary.baseline'"),
              std::vector<std::string>{"null|null|null"});
    EXPECT_EQ(runReport({scan}).out.find("baseline"), std::string::npos);
}

namespace {

// A DNS query from 10.0.0.`host` every `every` seconds over `hours` hours, from 2025-01-01
// 09:00 UTC, and an NTP query from 10.0.0.9 when `withClock`.
std::vector<tracekit::Record> queries(std::vector<std::pair<int, long>> hosts, long hours,
                                      bool withClock) {
    constexpr long start = 1735722000;
    std::vector<tracekit::Record> records;
    for (long t = 0; t <= hours * 3600 - 60; t += 30) {
        for (const auto& [host, every] : hosts) {
            if (t % every == 0) {
                records.push_back(
                    {tracekit::ipv4Frame(
                         17, {10, 0, 0, static_cast<std::uint8_t>(host)}, {10, 255, 0, 1},
                         tracekit::udpHeader(static_cast<std::uint16_t>(40000 + host), 53, 20)),
                     start + t, 0});
            }
        }
    }
    if (withClock) {
        records.push_back({tracekit::ipv4Frame(17, {10, 0, 0, 9}, {10, 255, 0, 2},
                                               tracekit::udpHeader(40009, 123, 48)),
                           start + 60, 0});
    }
    return records;
}

}  // namespace

// "Yesterday, 24 h" against "today, 3 h": 10.0.0.1 queries once a minute on both sides, and
// keeps its rate; 10.0.0.2 queries twice as often as it did, and the resolver they query gets
// half as much again. By totals all three would have dropped
// by seven eighths or more.
TEST(ReportBaselineRates, ADayAgainstThreeHoursIsComparedByRates) {
    ScratchDir dir;
    tracekit::writeTrace(dir.path("day.pcap"), queries({{1, 60}, {2, 60}}, 24, true));
    tracekit::writeTrace(dir.path("hours.pcap"), queries({{1, 60}, {2, 30}}, 3, false));
    makeExtendedDatabase(dir.path("day.pcap"), dir.path("day.db"));
    makeExtendedDatabase(dir.path("hours.pcap"), dir.path("hours.db"));
    const Outcome run =
        runReport({"--json", "--top", "0", "--baseline", dir.path("day.db"), dir.path("hours.db")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(jsonQuery(run.out, "SELECT ?1 ->> '$.summary.active', "
                                 "?1 ->> '$.summary.baseline_active', ?1 ->> '$.summary.compared'"),
              std::vector<std::string>{"10740.0|86340.0|rates"});
    EXPECT_EQ(jsonQuery(run.out, "SELECT value ->> 'address', round(value ->> 'relative', 2) "
                                 "FROM json_each(?1, '$.endpoint_changes_relative')"),
              (std::vector<std::string>{"10.0.0.2|1.0", "10.255.0.1|0.5", "10.0.0.1|0.0"}));
    EXPECT_EQ(jsonQuery(run.out, "SELECT ?1 ->> '$.gone_endpoints[0].address', "
                                 "?1 ->> '$.gone_services[0].port', "
                                 "json_array_length(?1, '$.gone_endpoints')"),
              std::vector<std::string>{"10.0.0.9|123|2"});
    const Outcome text =
        runReport({"--baseline", dir.path("day.db"), dir.path("hours.db")}, {"COLUMNS=400"});
    EXPECT_NE(text.out.find("compared by rates, the active times being apart (23 h 59 min "
                            "before, 2 h 59 min now)"),
              std::string::npos)
        << text.out;
    // Sides of the same active time are compared by their totals.
    const Outcome same =
        runReport({"--json", "--baseline", dir.path("hours.db"), dir.path("hours.db")});
    EXPECT_EQ(jsonQuery(same.out, "SELECT ?1 ->> '$.summary.compared', "
                                  "json_array_length(?1, '$.endpoint_changes')"),
              std::vector<std::string>{"totals|0"});
}
