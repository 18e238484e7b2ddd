// What is new since a baseline, on two samples: the web session as the baseline, the port scan
// as the traffic to look at. The results are worked out by hand from the samples' own figures
// (the README's tables): the scan's target is the laptop of the web session, which served
// nothing there, and the scanner is new. With --port 443 the filter holds on both sides: the
// web session's three HTTPS conversations (3,357 bytes each) against the scan's one probe of
// port 443 (three frames of 54 bytes).
#include <gtest/gtest.h>

#include "report_test_kit.h"

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
    // Bytes sent and received: the laptop 5,436 + 15,492 before, 1,080 + 1,296 now; the web
    // servers, the resolver and the router are gone; the scanner has come.
    EXPECT_EQ(rows(json, "endpoint_changes",
                   "value ->> 'address', value ->> 'bytes_before', value ->> 'bytes_now', "
                   "value ->> 'change', round(value ->> 'relative', 4)"),
              (std::vector<std::string>{"192.168.1.23|20928|2376|-18552|-0.8865",
                                        "93.184.216.34|6798|0|-6798|", "140.82.121.4|6768|0|-6768|",
                                        "151.101.1.69|6714|0|-6714|", "203.0.113.66|0|2376|2376|",
                                        "192.168.1.1|606|0|-606|", "10.20.0.1|42|0|-42|"}));
    EXPECT_EQ(rows(json, "endpoint_changes_relative", "value ->> 'address'"),
              std::vector<std::string>{"192.168.1.23"});
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
    EXPECT_EQ(rows(json, "endpoint_changes",
                   "value ->> 'address', value ->> 'bytes_before', value ->> 'bytes_now', "
                   "value ->> 'change', round(value ->> 'relative', 4)"),
              (std::vector<std::string>{"192.168.1.23|10071|162|-9909|-0.9839",
                                        "93.184.216.34|3357|0|-3357|", "140.82.121.4|3357|0|-3357|",
                                        "151.101.1.69|3357|0|-3357|", "203.0.113.66|0|162|162|"}));
    // Without a baseline its sections are null, and the text leaves them out.
    const Outcome plain = runReport({"--json", scan});
    EXPECT_EQ(jsonQuery(plain.out, "SELECT ?1 -> '$.new_endpoints', ?1 -> '$.endpoint_changes', "
                                   "?1 -> '$.summary.baseline'"),
              std::vector<std::string>{"null|null|null"});
    EXPECT_EQ(runReport({scan}).out.find("baseline"), std::string::npos);
}
