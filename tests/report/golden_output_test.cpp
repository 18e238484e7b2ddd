// The terminal and JSON reports of the four bundled samples (the office LAN's database made
// with -x, the others' classic), and the page of the web session, compared whole with the
// golden files in tests/report/golden/. Run with
// TIDEWRACK_UPDATE_GOLDEN=1 to write the golden files anew from the current output (then read
// the diff before committing it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "report_test_kit.h"

using namespace testkit;
using namespace reportkit;

namespace {

void expectGolden(const std::string& actual, const std::string& name) {
    const std::string path = std::string(TIDEWRACK_GOLDEN_DIR) + "/" + name;
    if (std::getenv("TIDEWRACK_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(path, std::ios::binary) << actual;
    }
    EXPECT_EQ(actual, fileBytes(path)) << "differs from " << path;
}

}  // namespace

TEST(ReportGolden, SamplesGiveTheGoldenTextJsonAndPage) {
    for (const std::string sample : {"web-session", "port-scan", "rare-protocols", "office-lan"}) {
        // Run beside the database, so that the report names it as a user would.
        ScratchDir dir;
        const std::string db = sample + ".db",
                          trace = std::string(TIDEWRACK_SAMPLES_DIR) + "/" + sample + ".pcap";
        if (sample == "office-lan") {
            ASSERT_EQ(runProgram({"-x", "-r", trace, "-d", dir.path(db)}).status, 0);
        } else {
            makeDatabase(trace, dir.path(db));
        }
        const Outcome text = runReport({db}, {}, dir.path("")),
                      json = runReport({"--json", db}, {}, dir.path(""));
        ASSERT_EQ(text.status, 0) << text.err;
        ASSERT_EQ(json.status, 0) << json.err;
        EXPECT_EQ(text.err + json.err, "");
        expectGolden(text.out, sample + ".txt");
        expectGolden(json.out, sample + ".json");
        if (sample == "web-session") {
            ASSERT_EQ(runReport({"-o", "page.html", db}, {}, dir.path("")).status, 0);
            expectGolden(fileBytes(dir.path("page.html")), sample + ".html");
        }
        EXPECT_EQ(jsonQuery(json.out, "SELECT json_valid(?1)"), std::vector<std::string>{"1"});
    }
}

// The scan of samples/port-scan.pcap: 20 ports of one host, four of them answered SYN ACK.
TEST(ReportGolden, PortScanIsFoundWithItsAnsweredShare) {
    ScratchDir dir;
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/port-scan.pcap", dir.path("scan.db"));
    const Outcome run = runReport({"--json", dir.path("scan.db")});
    EXPECT_EQ(jsonQuery(run.out,
                        "SELECT value ->> 'source', value ->> 'target', value ->> 'ports', "
                        "value ->> 'answered', value -> 'open_ports' "
                        "FROM json_each(?1, '$.port_scans')"),
              std::vector<std::string>{"203.0.113.66|192.168.1.23|20|4|[22,80,443,5432]"});
}

// The manual page documents the JSON structure: every member name of the golden documents
// appears in it as a word.
TEST(ReportGolden, EveryJsonMemberIsInTheManualPage) {
    const std::string page = fileBytes(TIDEWRACK_REPORT_MANUAL);
    ASSERT_FALSE(page.empty());
    for (const std::string sample : {"web-session", "port-scan", "office-lan"}) {
        const std::string json =
            fileBytes(std::string(TIDEWRACK_GOLDEN_DIR) + "/" + sample + ".json");
        for (const std::string& key :
             jsonQuery(json, "SELECT DISTINCT key FROM json_tree(?1) WHERE typeof(key) = 'text'")) {
            EXPECT_TRUE(std::regex_search(page, std::regex("(^|[^a-z_])" + key + "([^a-z_]|$)")))
                << key << " is not in the manual page";
        }
    }
}
