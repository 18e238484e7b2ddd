// The text report as a terminal shows it: no line wider than COLUMNS, else than the terminal
// standard output goes to, else than 80 columns; headings wrapped at blanks; tables narrowed by
// their columns' fits, and shown row by row when no narrowing fits; names cut between
// characters, East Asian wide ones counted as two columns. And bytes that are not UTF-8 come
// out as U+FFFD in every output.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report_test_kit.h"

using namespace testkit;
using namespace reportkit;

namespace {

const std::string samples = TIDEWRACK_SAMPLES_DIR;

void runSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// The columns a line takes: one a character, two for the CJK ideographs the tests use.
std::size_t columns(const std::string& line) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if ((c & 0xC0) != 0x80) {
            width += c == 0xE4 || c == 0xE5 || c == 0xE6 ? 2 : 1;  // U+4000 to U+6FFF
        }
    }
    return width;
}

std::size_t widest(const std::string& text) {
    std::size_t most = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        most = std::max(most, columns(line));
    }
    return most;
}

// Whether iconv reads `text` as UTF-8 without complaint.
bool validUtf8(const std::string& text, const ScratchDir& dir) {
    std::ofstream(dir.path("text"), std::ios::binary) << text;
    const std::string command =
        "iconv -f UTF-8 -t UTF-8 '" + dir.path("text") + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace

TEST(ReportTerminalText, NoLineIsWiderThanTheWidth) {
    ScratchDir dir;
    std::vector<std::string> databases;
    for (const std::string sample : {"web-session", "port-scan", "rare-protocols"}) {
        databases.push_back(dir.path(sample + ".db"));
        makeDatabase(samples + "/" + sample + ".pcap", databases.back());
    }
    // A long path, and names of wide and of accented characters.
    std::filesystem::create_directories(dir.path("a/rather/deep/directory/of/captures"));
    databases.push_back(dir.path("a/rather/deep/directory/of/captures/named-at-length.db"));
    makeDatabase(samples + "/web-session.pcap", databases.back());
    runSql(databases.back(), "UPDATE frames SET ipproto = '漢字漢字漢字漢字漢字' WHERE ipproto = "
                             "'ICMP'; UPDATE frames SET ipproto = 'Ünïcödé-Prötöcöl' WHERE "
                             "ipproto = 'UDP'");
    for (const std::size_t width : {30u, 45u, 60u, 80u, 100u, 132u}) {
        for (const std::string& db : databases) {
            const Outcome run = runReport({db}, {"COLUMNS=" + std::to_string(width)});
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_LE(widest(run.out), width) << db << " at " << width << ":\n" << run.out;
            EXPECT_TRUE(validUtf8(run.out, dir));
        }
    }
    // Off a terminal, 80 columns; on one, its width.
    const Outcome file =
        runBinary("/usr/bin/env", {"-u", "COLUMNS", TIDEWRACK_REPORT_BINARY, databases.front()});
    EXPECT_LE(widest(file.out), 80u) << file.out;
    EXPECT_GT(widest(file.out), 70u);
    const Outcome terminal = runBinary(
        "/usr/bin/script",
        {"-qec",
         "stty cols 50; env -u COLUMNS '" TIDEWRACK_REPORT_BINARY "' '" + databases.front() + "'",
         "/dev/null"});
    ASSERT_EQ(terminal.status, 0) << terminal.out;
    EXPECT_LE(widest(terminal.out) - 1, 50u) << terminal.out;  // each line ends "\r\n" there
    EXPECT_GT(widest(terminal.out) - 1, 40u) << terminal.out;
    // The headline wraps at a blank, the lines after it indented.
    EXPECT_EQ(file.out.substr(0, file.out.find("\nProtocols")),
              "Traffic report: 1 database, 72 frames, 20,928 bytes, 12:00:00.250000 to\n"
              "  12:00:04.739800 (4.490 s, 37.3 kbit/s, 16.0 frames/s)");
}

// Cut columns end with '~' between two characters; a table that no cut fits shows each row
// as lines of title and value, addresses and file names whole.
TEST(ReportTerminalText, NamesAreCutBetweenCharactersAndNarrowTablesTurnIntoBlocks) {
    ScratchDir dir;
    const std::string db = dir.path("names.db");
    makeDatabase(samples + "/web-session.pcap", db);
    runSql(db, "UPDATE frames SET ipproto = '漢字漢字漢字漢字漢字漢字' WHERE ipproto = 'ICMP'; "
               "UPDATE frames SET ipproto = 'éééééééééééééééééééé' WHERE ipproto = 'UDP'");
    const Outcome narrow = runReport({db}, {"COLUMNS=30"});
    EXPECT_NE(narrow.out.find("\n  ééééééééééé~     618   3.0 %\n"), std::string::npos)
        << narrow.out;
    EXPECT_NE(narrow.out.find("\n  漢字漢字漢~      168   0.8 %\n"), std::string::npos)
        << narrow.out;
    // Each row a block of the columns that never go, a value too long to go beside its title
    // below it; the note names the others.
    EXPECT_NE(narrow.out.find("\n  protocol   TCP\n  a          93.184.216.34:80\n  b\n"
                              "    192.168.1.23:51001\n  bytes a>b  2,516\n  bytes b>a  841\n\n"),
              std::string::npos)
        << narrow.out;
    EXPECT_NE(narrow.out.find("\n  left out for width: frames\n    a>b, frames b>a, first,\n    "
                              "last, duration, state,\n    rate; COLUMNS=175 or\n"),
              std::string::npos)
        << narrow.out;
    const std::size_t at = narrow.out.find("\n  database\n    ~") + 12;  // the path's line
    const std::string path = narrow.out.substr(at, narrow.out.find('\n', at) - at);
    EXPECT_TRUE(path.starts_with("    ~") && path.ends_with("/names.db")) << narrow.out;
    EXPECT_TRUE(validUtf8(narrow.out, dir));
}

// A name whose bytes are not UTF-8 (a stray byte, a sequence cut short, an overlong form, a
// surrogate, a sequence cut by the end) is shown with U+FFFD for each byte that starts no
// character, alike in the text, the page, JSON and CSV; every output is UTF-8.
TEST(ReportTerminalText, BytesThatAreNotUtf8BecomeReplacementCharactersEverywhere) {
    ScratchDir dir;
    const std::string db = dir.path("bytes.db");
    makeDatabase(samples + "/web-session.pcap", db);
    runSql(db, "UPDATE frames SET ipproto = CAST(x'6F6BFFC378C0AFEDA080E2' AS TEXT) "
               "WHERE ipproto = 'ICMP'");
    const std::string f = "\xEF\xBF\xBD", repaired = "ok" + f + f + "x" + f + f + f + f + f + f;
    const Outcome text = runReport({db}, {"COLUMNS=200"});
    const Outcome json = runReport({"--json", "-o", dir.path("page.html"), db});
    const Outcome csv = runReport({"--csv", "protocols", db});
    const std::string page = fileBytes(dir.path("page.html"));
    for (const std::string* output : {&text.out, &json.out, &csv.out, &page}) {
        EXPECT_NE(output->find(repaired), std::string::npos) << *output;
        EXPECT_TRUE(validUtf8(*output, dir));
    }
}
