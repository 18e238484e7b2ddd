// The names beside addresses, on the web session made with -x: it looks up my.example.com,
// www.python.org and www.github.com (one DNS answer each) and then connects to each address on
// ports 443 and 80; 93.184.216.34 is pinged as well and 140.82.121.4 traced (one UDP probe), so
// that CONNECTIONS holds three connections of my.example.com and of www.github.com and two of
// www.python.org. The figures are the sample's own (the README's tables): each TCP connection
// carries 3,357 bytes, the ping 84 and the probe 54.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "report_test_kit.h"

using namespace testkit;
using namespace reportkit;

namespace {

class ReportNames : public ::testing::Test {
  protected:
    void SetUp() override {
        makeExtendedDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", web);
    }

    static std::string json(std::vector<std::string> args) {
        args.insert(args.begin(), {"--json", "--top", "0"});
        const Outcome run = runReport(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }
    static std::vector<std::string> rows(const std::string& document, const std::string& section,
                                         const std::string& members,
                                         const std::string& where = "TRUE") {
        return jsonQuery(document, "SELECT " + members + " FROM json_each(?1, '$." + section +
                                       "') WHERE " + where);
    }
    void edit(const std::string& path, const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }

    ScratchDir dir;
    const std::string web = dir.path("web.db");
};

}  // namespace

// The endpoints, conversations and handshake servers show the name of their address (of the
// server of a conversation with a client, else of b); the server names add up the connections.
// The text shows the names, and the CSV has the JSON's members.
TEST_F(ReportNames, AddressesShowTheirNamesAndServerNamesAddUp) {
    const std::string document = json({web});
    EXPECT_EQ(rows(document, "endpoints",
                   "value ->> 'address', value ->> 'name', value ->> 'name_source'"),
              (std::vector<std::string>{"192.168.1.23||", "93.184.216.34|my.example.com|dns",
                                        "140.82.121.4|www.github.com|dns",
                                        "151.101.1.69|www.python.org|dns", "192.168.1.1||",
                                        "10.20.0.1||"}));
    // Only the TCP conversations have a client, whose server has a name: the others, without
    // a client, show b's, the laptop's, which has none.
    EXPECT_EQ(rows(document, "conversations", "value ->> 'server', value ->> 'name'",
                   "value ->> 'name' IS NOT NULL"),
              (std::vector<std::string>{
                  "93.184.216.34:80|my.example.com", "93.184.216.34:443|my.example.com",
                  "140.82.121.4:80|www.github.com", "140.82.121.4:443|www.github.com",
                  "151.101.1.69:80|www.python.org", "151.101.1.69:443|www.python.org"}));
    EXPECT_EQ(rows(document, "conversations", "count(*)", "value ->> 'name' IS NULL"),
              std::vector<std::string>{"8"});
    EXPECT_EQ(
        rows(document, "handshake_servers", "value ->> 'server', value ->> 'name'"),
        (std::vector<std::string>{"93.184.216.34|my.example.com", "140.82.121.4|www.github.com",
                                  "151.101.1.69|www.python.org"}));
    EXPECT_EQ(rows(document, "server_names",
                   "value ->> 'name', value ->> 'name_source', value ->> 'connections', "
                   "value ->> 'bytes', value ->> 'first_utc', value -> 'addresses'"),
              (std::vector<std::string>{
                  "my.example.com|dns|3|6798|2024-12-08T12:00:00.261000Z|[\"93.184.216.34\"]",
                  "www.github.com|dns|3|6768|2024-12-08T12:00:02.733000Z|[\"140.82.121.4\"]",
                  "www.python.org|dns|2|6714|2024-12-08T12:00:01.497000Z|[\"151.101.1.69\"]"}));
    const Outcome csv = runReport({"--csv", "endpoints", "--columns",
                                   "endpoints=name,address,"
                                   "name_source",
                                   web});
    EXPECT_EQ(csv.out,
              "name,address,name_source\n,192.168.1.23,\nmy.example.com,93.184.216.34,dns\n"
              "www.github.com,140.82.121.4,dns\nwww.python.org,151.101.1.69,dns\n,192.168.1.1,\n"
              ",10.20.0.1,\n");
    const Outcome text = runReport({web}, {"COLUMNS=200"});
    EXPECT_NE(text.out.find("  93.184.216.34  my.example.com "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Server names by traffic (all 3, by bytes"), std::string::npos);
    // A filter leaves the connections' names uncounted: the section is absent.
    EXPECT_EQ(jsonQuery(json({"--port", "443", web}), "SELECT ?1 -> '$.server_names'"),
              std::vector<std::string>{"null"});
}

// --host takes a name, letter case aside, or *.domain for a domain and the names under it; a
// name that none matches selects nothing and says so.
TEST_F(ReportNames, HostTakesANameOrADomain) {
    const auto endpoints = [&](const std::string& host) {
        return rows(json({"--host", host, web}), "endpoints", "value ->> 'address'");
    };
    EXPECT_EQ(endpoints("WWW.GitHub.com"),
              (std::vector<std::string>{"140.82.121.4", "192.168.1.23"}));
    EXPECT_EQ(endpoints("*.example.com"),
              (std::vector<std::string>{"93.184.216.34", "192.168.1.23"}));
    EXPECT_EQ(endpoints("*.org"), (std::vector<std::string>{"151.101.1.69", "192.168.1.23"}));
    // A name, not a suffix of one; and the domain itself is matched by its pattern.
    EXPECT_EQ(endpoints("example.com"), std::vector<std::string>{});
    edit(web, "UPDATE NAMES SET name = 'example.com' WHERE name = 'my.example.com'; "
              "UPDATE CONNECTIONS SET server_name = NULL");
    EXPECT_EQ(endpoints("*.example.com"),
              (std::vector<std::string>{"93.184.216.34", "192.168.1.23"}));
    const std::string none = json({"--host", "nowhere.example", "--host", "*.org", web});
    EXPECT_EQ(jsonQuery(none, "SELECT ?1 ->> '$.summary.filter', ?1 ->> '$.summary.frames'"),
              std::vector<std::string>{"--host nowhere.example --host *.org; no name learnt "
                                       "matches nowhere.example|20"});
}

// The names of the failed connections' servers, and the names new since a baseline: those of
// the web session against a baseline of the office LAN, which has none, and then against
// itself with one name changed.
TEST_F(ReportNames, FailedServersAndNewNamesAreNamed) {
    const std::string scan = dir.path("scan.db"), office = dir.path("office.db");
    makeExtendedDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/port-scan.pcap", scan);
    makeExtendedDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/office-lan.pcap", office);
    edit(scan, "INSERT INTO NAMES VALUES (1, '192.168.1.23', 'laptop.lan', 'dns', 60, NULL, 0)");
    const std::vector<std::string> failed =
        rows(json({scan}), "failed_connections", "DISTINCT value ->> 'name'");
    EXPECT_EQ(failed, std::vector<std::string>{"laptop.lan"});

    EXPECT_EQ(
        rows(json({"--baseline", office, web}), "new_names",
             "value ->> 'name', value ->> 'connections'"),
        (std::vector<std::string>{"my.example.com|3", "www.github.com|3", "www.python.org|2"}));
    const std::string before = dir.path("before.db");
    makeExtendedDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", before);
    edit(before, "UPDATE CONNECTIONS SET server_name = 'WWW.Python.org' "
                 "WHERE server_name = 'www.python.org'; "
                 "UPDATE CONNECTIONS SET server_name = 'old.github.com' "
                 "WHERE server_name = 'www.github.com'");
    EXPECT_EQ(rows(json({"--baseline", before, web}), "new_names", "value ->> 'name'"),
              std::vector<std::string>{"www.github.com"});
    EXPECT_EQ(jsonQuery(json({web}), "SELECT ?1 -> '$.new_names'"),
              std::vector<std::string>{"null"});
}

// A name holds whatever a packet said, in presentation form (\DDD for unusual bytes), which the
// report escapes for each output as any text: the page's markup, the CSV's quotes and formulas,
// the controls that a crafted database may hold (never passed on to a terminal).
TEST_F(ReportNames, HostileNamesAreEscapedInEveryOutput) {
    const std::string hostile = "=<b>x</b>,\"q\"\\000.example";
    edit(web, "UPDATE CONNECTIONS SET server_name = '" + hostile +
                  "' WHERE server = '93.184.216.34'; UPDATE CONNECTIONS SET server_name = "
                  "'www.' || char(27) || '[2J.org' WHERE server = '151.101.1.69'");
    // No byte a terminal acts upon reaches it from a name, whatever the database holds.
    const Outcome text = runReport({web}, {"COLUMNS=200"});
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_NE(text.out.find("www.?[2j.org"), std::string::npos) << text.out;
    ASSERT_EQ(runReport({"-o", dir.path("page.html"), web}).status, 0);
    const std::string page = fileBytes(dir.path("page.html"));
    EXPECT_EQ(page.find("<b>x"), std::string::npos);
    EXPECT_NE(page.find("=&lt;b&gt;x&lt;/b&gt;,&quot;q&quot;\\000.example"), std::string::npos);
    const Outcome csv = runReport({"--csv", "server_names", "--columns", "server_names=name", web});
    EXPECT_EQ(csv.out, "name\n\"'=<b>x</b>,\"\"q\"\"\\000.example\"\nwww.github.com\n"
                       "www.?[2j.org\n");
    EXPECT_EQ(
        rows(json({web}), "endpoints", "value ->> 'name'", "value ->> 'address' = '93.184.216.34'"),
        std::vector<std::string>{hostile});
}

// Every database gives its names, those past the sixteen held open between their dates and their
// frames too, whether read before the frames (for a --host name) or after them; of names learnt
// from the DNS alone, the one learnt last shows: that of the last database given.
TEST_F(ReportNames, EveryDatabaseGivesItsNamesAndTheLastLearntShows) {
    edit(web, "UPDATE CONNECTIONS SET server_name = NULL");
    std::vector<std::string> args;
    for (int i = 0; i < 20; ++i) {
        const std::string copy = dir.path(std::string("d").append(std::to_string(i)).append(".db"));
        std::filesystem::copy_file(web, copy);
        args.push_back(copy);
    }
    edit(args.back(), "UPDATE NAMES SET name = 'Late.Example' WHERE address = '93.184.216.34'");
    EXPECT_EQ(
        rows(json(args), "endpoints", "value ->> 'name'", "value ->> 'address' = '93.184.216.34'"),
        std::vector<std::string>{"late.example"});
    args.insert(args.begin(), {"--host", "late.example"});
    EXPECT_EQ(rows(json(args), "endpoints", "value ->> 'address'"),
              (std::vector<std::string>{"93.184.216.34", "192.168.1.23"}));
}
