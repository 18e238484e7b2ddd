// Inputs the report refuses: each with its one-line message on standard error, status 1,
// nothing on standard output and no file written, neither the page asked for nor a database
// at a missing path, nor anything beside a database. One bad database among good ones refuses
// the whole run. A page that cannot be written leaves what was there, and no message or table
// acts on the terminal.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "report_test_kit.h"

using namespace testkit;
using namespace reportkit;
namespace fs = std::filesystem;

namespace {

// The columns of tidewrack's frames table but the last, len.
const std::string frameColumns =
    "frame, sIP1, sIP2, sIP3, sIP4, sPort, dIP1, dIP2, dIP3, dIP4, dPort, ipproto, flags, time";

void makeSqlite(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// The report run under timeout(1), for inputs that could keep it busy for ever.
Outcome runBounded(const std::vector<std::string>& args) {
    std::vector<std::string> command = {"60", TIDEWRACK_REPORT_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    return runBinary("/usr/bin/timeout", command);
}

// The names of the files in `dir`, sorted.
std::vector<std::string> namesIn(const ScratchDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path(""))) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(ReportRefusals, EachBadInputIsRefusedWithItsMessageAndWritesNothing) {
    ScratchDir dir;
    const std::string good = dir.path("good.db"), page = dir.path("page.html");
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", good);
    std::ofstream(dir.path("notes.txt")) << "these are not the tables you are looking for\n";
    makeSqlite(dir.path("other.db"), "CREATE TABLE packets (frame integer, len integer)");
    makeSqlite(dir.path("flows.db"), "CREATE TABLE SECONDS (second integer, family integer, "
                                     "protocol integer, frames integer, bytes integer)");
    fs::create_directory(dir.path("folder.db"));

    const struct {
        std::string path, message;
    } cases[] = {
        {dir.path("missing.db"), dir.path("missing.db") + ": no such file"},
        {dir.path("notes.txt"), dir.path("notes.txt") + ": not an SQLite database"},
        {dir.path("other.db"),
         dir.path("other.db") + ": no frames table: not a database written by tidewrack"},
        {dir.path("folder.db"), dir.path("folder.db") + ": is a directory"},
        // SECONDS alone, without the connection record and CAPTURE of a database of flows only
        {dir.path("flows.db"),
         dir.path("flows.db") + ": no frames table: not a database written by tidewrack"},
    };
    for (const auto& c : cases) {
        for (const std::vector<std::string>& args : {std::vector<std::string>{c.path},
                                                     {"-o", page, good, c.path, good},
                                                     {"--json", c.path},
                                                     {"-o", page, "--baseline", c.path, good}}) {
            const Outcome run = runReport(args);
            EXPECT_EQ(run.status, 1) << c.path;
            EXPECT_EQ(run.err, "tidewrack-report: " + c.message + "\n");
            EXPECT_EQ(run.out, "");
            EXPECT_FALSE(fs::exists(page)) << c.path;
        }
    }
    EXPECT_FALSE(fs::exists(dir.path("missing.db")));
    EXPECT_EQ(fileBytes(dir.path("notes.txt")), "these are not the tables you are looking for\n");
}

// A frames table made to keep the report busy or fill its memory is refused before a row is
// read: a view that never ends, a virtual table, a column computed as 500 MB on each read, and
// a row longer than any tidewrack writes; and so are such tables of the extended record.
TEST(ReportRefusals, CraftedFramesTablesAreRefusedAtOnce) {
    ScratchDir dir;
    const std::string columns = frameColumns + ", ", tail = ": not a database written by tidewrack";
    const struct {
        std::string name, sql, message;
    } cases[] = {
        {"view.db",
         "CREATE VIEW frames (" + columns +
             "len) AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
             "SELECT x + 1 FROM c) SELECT x, x, x, x, x, x, x, x, x, x, x, x, x, x, x FROM c WHERE "
             "x < 0",
         "frames is a view, not a table" + tail},
        {"virtual.db", "CREATE VIRTUAL TABLE Frames USING fts5(" + columns + "len)",
         "frames is a virtual table" + tail},
        {"generated.db",
         "CREATE TABLE frames (" + columns +
             "len AS (length(printf('%.*c', 500000000, 'x')))); "
             "INSERT INTO frames (frame) VALUES (1)",
         "frames has a generated or hidden column" + tail},
        {"long.db",
         "CREATE TABLE frames (" + columns +
             "len); "
             "INSERT INTO frames (ipproto) VALUES (printf('%.*c', 2000000, 'x'))",
         "cannot read the frames: string or blob too big"},
        // The extended record's tables are read as warily: a DAYS that never ends, a FRAMES6
        // that computes.
        {"days-view.db",
         "CREATE TABLE frames (" + columns +
             "len); CREATE TABLE capture (utc_offset); CREATE VIEW days (frame, date, "
             "utc_offset) AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
             "SELECT x, '2025-01-01', 0 FROM c",
         "days is a view, not a table" + tail},
        {"frames6-generated.db",
         "CREATE TABLE frames (" + columns +
             "len); CREATE TABLE FRAMES6 (frame, sIP, sPort, dIP, dPort, ipproto, flags, time, "
             "len AS (length(printf('%.*c', 500000000, 'x'))))",
         "frames6 has a generated or hidden column" + tail},
    };
    for (const auto& c : cases) {
        makeSqlite(dir.path(c.name), c.sql);
        const Outcome run = runBounded({dir.path(c.name)});
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(run.err, "tidewrack-report: " + dir.path(c.name) + ": " + c.message + "\n");
    }
}

// Nothing the report writes acts on a terminal: control characters from a path, from a name
// stored in the database or from SQLite's error text (which quotes the schema's own names)
// are shown as '?' (C1 controls as well as C0 and DEL), bytes that are not UTF-8 as U+FFFD.
TEST(ReportRefusals, ControlCharactersNeverReachTheTerminal) {
    ScratchDir dir;
    const auto hasControls = [](const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if ((c < 0x20 && c != '\n') || c == 0x7F ||
                (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
                return true;
            }
        }
        return false;
    };
    const std::string schema = dir.path("schema.db");
    makeSqlite(schema, "CREATE TABLE t (x); PRAGMA writable_schema = ON; UPDATE sqlite_master "
                       "SET name = char(27) || ']0;owned' || char(7, 155), sql = 'CREATE TABLE ('");
    const Outcome malformed = runReport({schema});
    EXPECT_EQ(malformed.status, 1);
    EXPECT_NE(malformed.err.find("malformed database schema (?]0;owned?\?)"), std::string::npos)
        << malformed.err;
    const Outcome missing = runReport({dir.path("\x1b[2J\x9b.db")});
    EXPECT_EQ(missing.err,
              "tidewrack-report: " + dir.path("?[2J\xEF\xBF\xBD.db") + ": no such file\n");

    const std::string named = dir.path("caf\xC3\xA9\xC2\x85.db");
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", named);
    makeSqlite(named, "UPDATE frames SET ipproto = 'UDP' || char(155, 27) || '[2J' "
                      "WHERE ipproto = 'UDP'");
    const Outcome text = runReport({named});
    EXPECT_NE(text.out.find("Protocols seen: ICMP, TCP, UDP?\?[2J\n"), std::string::npos);
    EXPECT_NE(text.out.find("caf\xC3\xA9?.db"), std::string::npos) << text.out;
    EXPECT_FALSE(hasControls(text.out + malformed.err + missing.err)) << text.out;
    // JSON keeps the name whole, with the controls escaped.
    const Outcome json = runReport({"--json", named});
    EXPECT_NE(json.out.find("\"UDP\\u009b\\u001b[2J\""), std::string::npos);
    EXPECT_FALSE(hasControls(json.out));
}

// A page that cannot be written leaves the path as it was: an old page whole, a device node
// in place, and no new file beside them; with --json, a failure of the document leaves no page
// either. A page written through a link replaces the page the link names, in its mode.
TEST(ReportRefusals, AFailedPageWriteKeepsWhatWasThere) {
    ScratchDir dir;
    const std::string db = dir.path("web.db"), page = dir.path("page.html");
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", db);
    std::ofstream(page) << "the old page\n";
    fs::permissions(page, fs::perms(0640));
    fs::create_symlink("page.html", dir.path("link.html"));
    // A device that fails every write: a node like /dev/full where the tests may make one (as
    // root), else a link to /dev/full.
    if (mknod(dir.path("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        fs::create_symlink("/dev/full", dir.path("full"));
    }
    fs::create_directory(dir.path("folder"));
    // The report run by sh after `setup`, SIGXFSZ ignored so that a file size limit fails writes.
    const auto runAfter = [](const std::string& setup, std::vector<std::string> args) {
        args.insert(args.begin(), {"-c", "trap '' XFSZ; " + setup + "; exec \"$@\"", "sh",
                                   TIDEWRACK_REPORT_BINARY});
        return runBinary("/bin/sh", args);
    };
    const struct {
        std::string setup, output, message;
        bool json;
    } cases[] = {
        {"ulimit -f 16", page, "page.html: cannot write: File too large", false},  // 8 KiB
        {"exec >/dev/full", dir.path("new.html"), "standard output: No space left on device", true},
        {":", dir.path("full"), "full: cannot write: No space left on device", false},
        {":", dir.path("folder"), "folder: is a directory", false},
    };
    for (const auto& c : cases) {
        const Outcome run =
            runAfter(c.setup, c.json ? std::vector<std::string>{"--json", "-o", c.output, db}
                                     : std::vector<std::string>{"-o", c.output, db});
        EXPECT_EQ(run.status, 1) << c.output;
        EXPECT_EQ(run.err, "tidewrack-report: " + (c.json ? "" : dir.path("")) + c.message + "\n");
    }
    EXPECT_EQ(fileBytes(page), "the old page\n");
    EXPECT_TRUE(fs::is_character_file(dir.path("full")));
    EXPECT_EQ(namesIn(dir),
              (std::vector<std::string>{"folder", "full", "link.html", "page.html", "web.db"}));

    ASSERT_EQ(runReport({"-o", dir.path("link.html"), db}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir.path("link.html")));
    EXPECT_EQ(fileBytes(page).rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(fs::status(page).permissions(), fs::perms(0640));
}

// A database left with a hot journal, as a killed run leaves it, is refused with the way to
// recover it. A WAL-mode database is read without a file made beside it: as it is when it has
// no log, with its log while a writer has it open; a log left without its index (by a crash)
// is refused.
TEST(ReportRefusals, InterruptedAndWalDatabasesAreNamedAndNotWrittenBeside) {
    ScratchDir dir;
    const std::string hot = dir.path("hot.db"), wal = dir.path("wal.db");
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", hot);
    sqlite3* writer = nullptr;
    sqlite3_open(hot.c_str(), &writer);
    // A transaction too big for its cache writes its journal whole: kept as it is then.
    sqlite3_exec(writer,
                 "PRAGMA cache_size = 2; BEGIN; CREATE TABLE filler AS WITH RECURSIVE n(i) AS "
                 "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                 "SELECT randomblob(100) FROM n",
                 nullptr, nullptr, nullptr);
    const std::string journal = fileBytes(hot + "-journal");
    sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(writer);
    std::ofstream(hot + "-journal", std::ios::binary) << journal;
    const Outcome interrupted = runReport({hot});
    EXPECT_EQ(interrupted.status, 1);
    EXPECT_EQ(interrupted.err,
              "tidewrack-report: " + hot + ": holds an interrupted run (a hot journal, " + hot +
                  "-journal); open it once with sqlite3 as its owner to roll it back\n");

    const std::string frames = "SELECT ?1 ->> '$.summary.frames'";
    makeSqlite(wal, "PRAGMA journal_mode = WAL; CREATE TABLE frames (" + frameColumns +
                        ", len); INSERT INTO frames (frame) VALUES (1)");
    sqlite3_open(wal.c_str(), &writer);
    sqlite3_exec(writer, "PRAGMA wal_autocheckpoint = 0; INSERT INTO frames (frame) VALUES (2)",
                 nullptr, nullptr, nullptr);
    EXPECT_EQ(jsonQuery(runReport({"--json", wal}).out, frames), std::vector<std::string>{"2"});
    fs::copy_file(wal, dir.path("crash.db"));
    fs::copy_file(wal + "-wal", dir.path("crash.db-wal"));
    sqlite3_close(writer);
    const Outcome crashed = runReport({dir.path("crash.db")});
    EXPECT_EQ(crashed.status, 1);
    EXPECT_EQ(crashed.err, "tidewrack-report: " + dir.path("crash.db") + ": its write-ahead log " +
                               dir.path("crash.db-wal") +
                               " holds changes not yet in it; open it once with sqlite3 as its "
                               "owner to fold them in\n");
    EXPECT_EQ(jsonQuery(runReport({"--json", wal}).out, frames), std::vector<std::string>{"2"});
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"crash.db", "crash.db-wal", "hot.db",
                                                      "hot.db-journal", "wal.db"}));
}

TEST(ReportRefusals, NeitherTheDatabasesNorTheirFolderChange) {
    ScratchDir dir;
    const std::string db = dir.path("web.db");
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", db);
    const std::string before = fileBytes(db);

    const Outcome over = runReport({"-o", db, db});
    EXPECT_EQ(over.status, 1);
    EXPECT_EQ(over.err, "tidewrack-report: " + db + ": is one of the databases; not overwritten\n");

    EXPECT_EQ(runReport({db}).status, 0);
    EXPECT_EQ(runReport({"--json", "-o", dir.path("web.html"), db}).status, 0);
    EXPECT_EQ(fileBytes(db), before);
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"web.db", "web.html"}));
}

namespace {

std::string timeRefused(const std::string& option, const std::string& value) {
    return "--" + option +
           " takes a time of day, HH:MM[:SS[.ffffff]], or a date and time, "
           "YYYY-MM-DD HH:MM[:SS[.ffffff]], not '" +
           value + "'";
}

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

}  // namespace

TEST(ReportRefusals, WrongCommandLinesSayWhatIsWrong) {
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "no database given (try --help)"},
        {{"--top", "ten", "x.db"}, "--top needs a number of rows (0 for all), not 'ten'"},
        {{"--top", "-1", "x.db"}, "--top needs a number of rows (0 for all), not '-1'"},
        {{"x.db", "-o"}, "option -o needs a value"},
        {{"--colour", "x.db"}, "unknown option --colour"},
        {{"--csv", "talkers", "x.db"},
         "--csv takes a section, not 'talkers' (--csv list names them)"},
        // As a script's unset variable gives it.
        {{"--csv", "", "x.db"}, "--csv needs a section (--csv list names them)"},
        {{"--csv=", "x.db"}, "--csv needs a section (--csv list names them)"},
        {{"--json", "--csv", "endpoints", "x.db"},
         "--csv and --json both write to standard output: give one"},
        // A filter's bad value, before any database is looked at.
        {{"--host", "10.0.0.256", "x.db"},
         "--host takes an address, a prefix or a name (10.0.0.5, 10.0.0.0/8, "
         "2001:db8::/32, www.example.com, *.example.com), not "
         "'10.0.0.256'"},
        {{"--host", "2001:db8::/129", "x.db"},
         "--host takes an address, a prefix or a name (10.0.0.5, 10.0.0.0/8, "
         "2001:db8::/32, www.example.com, *.example.com), not "
         "'2001:db8::/129'"},
        // A wildcard stands only for the names under a domain.
        {{"--host", "*.", "x.db"},
         "--host takes an address, a prefix or a name (10.0.0.5, 10.0.0.0/8, "
         "2001:db8::/32, www.example.com, *.example.com), not '*.'"},
        {{"--host", "www.*.com", "x.db"},
         "--host takes an address, a prefix or a name (10.0.0.5, 10.0.0.0/8, "
         "2001:db8::/32, www.example.com, *.example.com), not 'www.*.com'"},
        {{"--port", "65536", "x.db"}, "--port takes a port from 0 to 65535, not '65536'"},
        {{"--port", "-1", "x.db"}, "--port takes a port from 0 to 65535, not '-1'"},
        {{"--from", "14:60", "x.db"}, timeRefused("from", "14:60")},
        {{"--to", "2024-02-30 10:00", "x.db"}, timeRefused("to", "2024-02-30 10:00")},
        {{"--to", "noon", "x.db"}, timeRefused("to", "noon")},
        {{"--from", "14:00", "--to", "14:00:00.000", "x.db"},
         "--from and --to are the same time of day: the window holds no time"},
        {{"--from", "2024-12-08 14:00", "--to", "2024-12-08 13:00", "x.db"},
         "--to is not after --from: the window holds no time"},
        {{"--by", "speed", "x.db"}, "--by takes bytes, frames, duration or rate, not 'speed'"},
        {{"--state", "S0,rej", "x.db"},
         "--state takes TCP states (S0, REJ, S1, SF, S2, S3, RSTO, RSTR, OTH), not 'rej'"},
        {{"--state", "S0,", "x.db"},
         "--state takes TCP states (S0, REJ, S1, SF, S2, S3, RSTO, RSTR, OTH), not ''"},
        {{"--min-duration", "-1", "x.db"}, "--min-duration needs seconds (1, 0.5), not '-1'"},
        {{"--min-duration", "0.0000001", "x.db"},
         "--min-duration needs seconds (1, 0.5), not '0.0000001'"},
        {{"--protocol", "", "x.db"},
         "--protocol takes a protocol's name as the frames tables hold it (TCP, UDP, ICMP, ...), "
         "not ''"},
        {{"--columns", "conversations", "x.db"},
         "--columns takes SECTION=KEY,... (--columns list names them), not 'conversations'"},
        {{"--columns", "talkers=a", "x.db"},
         "--columns: no section 'talkers'; the sections: " + listed(sectionIds())},
        {{"-C", "vlans=vlan,rate", "x.db"},
         "--columns: vlans has no column 'rate'; its columns: vlan, frames, bytes, share"},
        {{"-C", "vlans=", "x.db"},
         "--columns: vlans has no column ''; its columns: vlan, frames, bytes, share"},
        {{"-C", "vlans=vlan,frames,vlan", "x.db"}, "--columns: vlans names vlan twice"},
    };
    for (const auto& c : cases) {
        const Outcome run = runReport(c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "tidewrack-report: " + c.message + "\n");
    }
    // A date in the window of a database without dates: refused once its dates are known,
    // before any frame is read.
    ScratchDir dir;
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", dir.path("web.db"));
    const Outcome dated = runReport({"--from", "2024-12-08 12:00", dir.path("web.db")});
    EXPECT_EQ(dated.status, 2);
    EXPECT_EQ(dated.err, "tidewrack-report: --from 2024-12-08 12:00: a date needs databases that "
                         "all record dates (made with tidewrack -x); give a time of day\n");
    const Outcome budget = runReport({"x.db"}, {"TIDEWRACK_REPORT_MEMORY=lots"});
    EXPECT_EQ(budget.status, 2);
    EXPECT_EQ(budget.err,
              "tidewrack-report: TIDEWRACK_REPORT_MEMORY takes a number of KiB, not 'lots'\n");
    const Outcome help = runReport({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: tidewrack-report [options] DATABASE..."), std::string::npos);
    EXPECT_EQ(runReport({"-V"}).out, "tidewrack-report " TIDEWRACK_VERSION_TEXT "\n");
    // What needs no database fails as a report does when standard output cannot take it.
    // Each section with its keys, as --columns takes them.
    const Outcome keys = runReport({"--columns", "list"});
    EXPECT_EQ(keys.status, 0);
    EXPECT_NE(keys.out.find("\nvlans=vlan,frames,bytes,share\n"), std::string::npos) << keys.out;
    for (const std::string option : {"--help", "-V", "--csv=list", "-Clist"}) {
        const Outcome full = runBinary(
            "/bin/sh", {"-c", "exec \"$@\" >/dev/full", "sh", TIDEWRACK_REPORT_BINARY, option});
        EXPECT_EQ(full.status, 1) << option;
        EXPECT_EQ(full.err, "tidewrack-report: standard output: No space left on device\n")
            << option;
    }
}

// The page never takes the place of a file SQLite keeps beside a database, of the traffic or
// of the baseline, whether it is there or not, named or through a link: a write-ahead log
// replaced by the page would lose the transactions a writer committed to it.
TEST(ReportRefusals, ThePageNeverReplacesAFileBesideADatabase) {
    ScratchDir dir;
    const std::string wal = dir.path("w.db"), base = dir.path("base.db");
    makeSqlite(wal, "PRAGMA journal_mode = WAL; CREATE TABLE frames (" + frameColumns +
                        ", len); INSERT INTO frames (frame) VALUES (1)");
    makeSqlite(base, "CREATE TABLE frames (" + frameColumns + ", len)");
    sqlite3* writer = nullptr;
    sqlite3_open(wal.c_str(), &writer);
    sqlite3_exec(writer, "PRAGMA wal_autocheckpoint = 0; INSERT INTO frames (frame) VALUES (2)",
                 nullptr, nullptr, nullptr);
    const std::string log = fileBytes(wal + "-wal");
    fs::create_symlink("w.db-wal", dir.path("link.html"));
    const struct {
        std::string page, database;
    } cases[] = {{wal + "-wal", wal},          {wal + "-shm", wal},       {wal + "-journal", wal},
                 {dir.path("link.html"), wal}, {base + "-journal", base}, {base + "-wal", base}};
    for (const auto& c : cases) {
        const Outcome run = runReport({"-o", c.page, "--baseline", base, wal});
        EXPECT_EQ(run.status, 1) << c.page;
        EXPECT_EQ(run.err, "tidewrack-report: " + c.page + ": is a file SQLite keeps beside " +
                               c.database + "; not overwritten\n");
    }
    EXPECT_TRUE(fileBytes(wal + "-wal") == log);
    EXPECT_EQ(namesIn(dir),
              (std::vector<std::string>{"base.db", "link.html", "w.db", "w.db-shm", "w.db-wal"}));
    EXPECT_EQ(jsonQuery(runReport({"--json", wal}).out, "SELECT ?1 ->> '$.summary.frames'"),
              std::vector<std::string>{"2"});
    sqlite3_close(writer);
}

// A --protocol that is no protocol's name is a typo, not a filter: refused once the databases
// have told their names, before anything is written, naming those they hold. A name of the
// protocol tables passes whether these databases hold it or not, and so does a name that only
// a database holds, of the traffic or of the baseline.
TEST(ReportRefusals, AProtocolNameThatNoTableKnowsIsRefused) {
    ScratchDir dir;
    const std::string web = dir.path("web.db"), office = dir.path("office.db"),
                      odd = dir.path("odd.db"), page = dir.path("page.html");
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", web);
    makeExtendedDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/office-lan.pcap", office);
    fs::copy_file(web, odd);
    makeSqlite(odd, "UPDATE frames SET ipproto = 'Wireguard' WHERE ipproto = 'UDP'");
    const struct {
        std::vector<std::string> args;
        std::string held;
    } refused[] = {
        {{"--protocol", "tcpp", "-o", page, web}, "ICMP, TCP, UDP"},
        {{"--protocol", "TCP", "--protocol", "icmpv6", "--json", office, web},
         "ICMP, IPv6-ICMP, TCP, UDP"},
        {{"--protocol", "TCP (IPv6)", "--baseline", odd, office},
         "ICMP, IPv6-ICMP, TCP, UDP, Wireguard"},
    };
    for (const auto& c : refused) {
        const Outcome run = runReport(c.args);
        const std::string name = *(std::find(c.args.rbegin(), c.args.rend(), "--protocol") - 1);
        EXPECT_EQ(run.status, 2) << name;
        EXPECT_EQ(run.err, "tidewrack-report: --protocol takes a protocol's name as the frames "
                           "tables hold it, not '" +
                               name + "'; these databases hold " + c.held + "\n");
        EXPECT_TRUE(run.out.empty()) << name;
    }
    EXPECT_FALSE(fs::exists(page));
    const struct {
        std::vector<std::string> args;
        std::string frames;
    } passed[] = {{{"--protocol", "ospf", web}, "0"},
                  {{"--protocol", "ipv6-icmp", office}, "3"},
                  {{"--protocol", "wireguard", odd}, "8"},
                  {{"--protocol", "Wireguard", "--baseline", odd, web}, "0"}};
    for (const auto& c : passed) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--json");
        const Outcome run = runReport(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(jsonQuery(run.out, "SELECT ?1 ->> '$.summary.frames'"),
                  std::vector<std::string>{c.frames});
    }
}
