// The text report as a terminal shows it: no line wider than COLUMNS, else than the terminal
// standard output goes to, else than 80 columns; headings wrapped at blanks; tables narrowed by
// their columns' fits, never losing a column as the width grows, with a note naming what they
// left out, and shown row by row when no narrowing fits; names cut between
// characters, East Asian wide ones counted as two columns. And bytes that are not UTF-8 come
// out as U+FFFD in every output.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
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
// character, alike in the text, the page and CSV, and JSON escapes it; every output is UTF-8.
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
        EXPECT_NE(output->find(output == &json.out
                                   ? std::regex_replace(repaired, std::regex(f), "\\ufffd")
                                   : repaired),
                  std::string::npos)
            << *output;
        EXPECT_TRUE(validUtf8(*output, dir));
    }
}

// Over every width from 40 to 400 columns and every order, of a database with IPv4 and IPv6
// rows: the conversations never lose the columns they are ranked by, a wider text never leaves
// out a column that a narrower one shows, the note names exactly the columns left out, and the
// width it gives shows them all.
TEST(ReportTerminalText, AWiderTextNeverShowsFewerColumnsAndTheNoteNamesTheRest) {
    ScratchDir dir;
    const std::string db = dir.path("office.db");
    makeExtendedDatabase(samples + "/office-lan.pcap", db);
    const std::vector<std::string> titles = {"protocol",  "a",          "b",         "frames a>b",
                                             "bytes a>b", "frames b>a", "bytes b>a", "first",
                                             "last",      "duration",   "state",     "rate"};
    // The titles the conversations show, and those their note names.
    const auto read = [&](const std::string& text, std::set<std::string>& shown,
                          std::set<std::string>& named, std::string& wide) {
        const std::size_t from = text.find("\nConversations ");
        std::string section = text.substr(from, text.find("\nTCP conversations by", from) - from);
        section = std::regex_replace(section, std::regex("\n    "), " ");
        std::smatch note;
        if (std::regex_search(section, note,
                              std::regex("\n  left out for width: ([^;]*); "
                                         "COLUMNS=([0-9]+) "))) {
            std::istringstream list(note[1].str());
            for (std::string title; std::getline(list >> std::ws, title, ',');) {
                named.insert(title);
            }
            wide = note[2];
        }
        const std::string head = section.substr(section.find("\n  protocol"));
        const std::string header = head.substr(0, head.find('\n', 1)) + "  ";
        for (const std::string& title : titles) {
            if (header.find("  " + title + "  ") != std::string::npos ||
                section.find("\n  " + title + "  ") != std::string::npos) {
                shown.insert(title);
            }
        }
    };
    const std::map<std::string, std::vector<std::string>> ranked = {
        {"bytes", {"bytes a>b", "bytes b>a"}},
        {"frames", {"frames a>b", "frames b>a"}},
        {"duration", {"duration"}},
        {"rate", {"rate"}}};
    for (const auto& [by, keys] : ranked) {
        std::set<std::string> before;   // shown at the width before
        std::set<std::string> checked;  // the widths that notes gave
        for (int width = 40; width <= 400; width += 9) {
            const Outcome run = runReport({"--by", by, db}, {"COLUMNS=" + std::to_string(width)});
            ASSERT_EQ(run.status, 0) << run.err;
            std::set<std::string> shown, named;
            std::string wide;
            read(run.out, shown, named, wide);
            std::set<std::string> all = shown;
            all.insert(named.begin(), named.end());
            EXPECT_EQ(all.size(), titles.size()) << by << " at " << width << ":\n" << run.out;
            EXPECT_EQ(shown.size() + named.size(), titles.size()) << by << " at " << width;
            for (const std::string& key : keys) {
                EXPECT_EQ(shown.count(key), 1u) << key << " left out at " << width;
            }
            for (const std::string& title : named) {
                EXPECT_EQ(before.count(title), 0u)
                    << title << " shown narrower but not at " << width << " by " << by;
            }
            before = shown;
            if (!wide.empty() && checked.insert(wide).second) {
                std::set<std::string> atWide, namedAtWide;
                std::string again;
                read(runReport({"--by", by, db}, {"COLUMNS=" + wide}).out, atWide, namedAtWide,
                     again);
                EXPECT_EQ(atWide.size(), titles.size()) << "COLUMNS=" << wide << " by " << by;
            }
        }
    }
}
