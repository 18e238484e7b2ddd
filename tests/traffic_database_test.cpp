// The traffic database, read back with SQLite: tables, rows, the end-of-run flow and service
// tables, both analysis modes, and the databases a run must refuse.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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

std::vector<Record> handshake(std::uint16_t clientPort) {
    return {{ipv4Frame(6, client, server, tcpHeader(clientPort, 80, 0x02)), 1699970587, 42, 60},
            {ipv4Frame(6, server, client, tcpHeader(80, clientPort, 0x12)), 1699970587, 43},
            {ipv4Frame(6, client, server, tcpHeader(clientPort, 80, 0x10)), 1699970587, 44}};
}

std::vector<Record> udpToDns(int packets) {
    std::vector<Record> records;
    for (int i = 0; i < packets; ++i) {
        records.push_back({ipv4Frame(17, client, {8, 8, 8, 8}, udpHeader(5353, 53, 20))});
    }
    return records;
}

Record ofProtocol(std::uint8_t protocol) {
    return {ipv4Frame(protocol, client, server, udpHeader(1, 2))};
}

class TrafficDatabase : public ::testing::Test {
  protected:
    Outcome analyse(const std::vector<Record>& records, std::vector<std::string> options = {}) {
        writeTrace(trace, records);
        options.insert(options.end(), {"-r", trace, "-d", db});
        return runProgram(options);
    }
    Rows rows(const std::string& sql) { return query(db, sql); }
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap"), db = dir.path("traffic.db");
};

}  // namespace

TEST_F(TrafficDatabase, UdpToDnsOnly) {
    const Outcome run = analyse(udpToDns(3));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(tableNames(db), (Rows{"FRAMES", "IPPROTO", "SERVICES_UDP", "UDP", "UDP_raw"}));
    EXPECT_EQ(rows("SELECT * FROM IPPROTO"), Rows{"UDP"});
    EXPECT_EQ(rows("SELECT * FROM SERVICES_UDP"), Rows{"DNS"});
    EXPECT_EQ(rows("SELECT * FROM UDP"), Rows{"192|168|1|10|8|8|8|8|53|DNS"});
    EXPECT_EQ(rows("SELECT count(*) FROM UDP_raw"), Rows{"3"});
    EXPECT_EQ(run.err, "SQL error: no such table: ICMP\nSQL error: no such table: TCP\n");
    EXPECT_EQ(normalizeDurations(run.out),
              "\nlistening on " + trace +
                  "...\n\b-\b\\\b|\n3 packets analysed in: hh:mm:ss\n\n"
                  "creating directed flows:\nUDP... done.\n\ncreating service indices... done.\n"
                  "\n4 flows and service indices created in: hh:mm:ss\n\n"
                  "total traffic analysis took: hh:mm:ss\n");
}

TEST_F(TrafficDatabase, HandshakeSeenTwiceGivesTwoRawRowsAndOneFlow) {
    std::vector<Record> records = handshake(1025);
    const std::vector<Record> again = handshake(1025);
    records.insert(records.end(), again.begin(), again.end());
    records.push_back({ipv4Frame(1, server, client, icmpHeader(3, 3))});
    EXPECT_EQ(analyse(records).status, 0);
    EXPECT_EQ(rows("SELECT * FROM FRAMES WHERE frame <= 3"),
              (Rows{"1|192|168|1|10|1025|10|0|0|1|80|TCP|SYN |14:03:07.000042|60",
                    "2|10|0|0|1|80|192|168|1|10|1025|TCP|SYN ACK |14:03:07.000043|54",
                    "3|192|168|1|10|1025|10|0|0|1|80|TCP|ACK |14:03:07.000044|54"}));
    EXPECT_EQ(rows("SELECT * FROM TCP_raw"), Rows(2, "192|168|1|10|1025|10|0|0|1|80|HTTP"));
    EXPECT_EQ(rows("SELECT * FROM TCP"), Rows{"192|168|1|10|1025|10|0|0|1|80|HTTP"});
    EXPECT_EQ(rows("SELECT * FROM SERVICES_TCP"), Rows{"HTTP"});
    EXPECT_EQ(rows("SELECT * FROM ICMP"),
              Rows{"10|0|0|1|192|168|1|10|DESTINATION UNREACHABLE|Destination port unreachable"});
    EXPECT_EQ(rows("SELECT * FROM SERVICES_ICMP"),
              Rows{"DESTINATION UNREACHABLE|Destination port unreachable"});
    EXPECT_EQ(rows("SELECT * FROM IPPROTO"), (Rows{"ICMP", "TCP"}));
}

TEST_F(TrafficDatabase, TableNamesFollowTheProtocolTable) {
    EXPECT_EQ(analyse({ofProtocol(114), ofProtocol(136), ofProtocol(200), ofProtocol(93)}).status,
              0);
    EXPECT_EQ(rows("SELECT ipproto FROM FRAMES"), (Rows{"Any", "UDP", "UNASSIGNED", "AX.25"}));
    EXPECT_EQ(rows("SELECT * FROM IPPROTO"), (Rows{"AX.25", "Any_0-hop ", "UDP_Lite"}));
    EXPECT_EQ(tableNames(db), (Rows{"AX.25", "AX.25_raw", "Any_0-hop ", "Any_0-hop _raw", "FRAMES",
                                    "IPPROTO", "UDP_Lite", "UDP_Lite_raw"}));
    EXPECT_EQ(rows("SELECT * FROM \"Any_0-hop \""), Rows{"192|168|1|10|10|0|0|1"});
}

TEST_F(TrafficDatabase, NumbersAbove141ShareTheUnassignedTable) {
    EXPECT_EQ(analyse({ofProtocol(200), ofProtocol(141), ofProtocol(255)}).status, 0);
    EXPECT_EQ(rows("SELECT count(*) FROM UNASSIGNED_raw"), Rows{"3"});
    EXPECT_EQ(rows("SELECT count(*) FROM UNASSIGNED"), Rows{"1"});
}

TEST_F(TrafficDatabase, FramesOnlyMode) {
    std::vector<Record> records = handshake(2000);
    records.push_back({ipv4Frame(6, client, server, tcpHeader(2000, 80, 0x10)), 0, 0, 0, 20});
    const Outcome run = analyse(records, {"-m", "2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(tableNames(db), Rows{"frames"});
    EXPECT_EQ(rows("SELECT count(*) FROM frames"), Rows{"3"});  // the short frame has no row
    EXPECT_EQ(run.out.find("creating directed flows"), std::string::npos);
    EXPECT_EQ(run.err, "");
}

TEST_F(TrafficDatabase, UnknownModeEndsAtOnce) {
    Outcome run = analyse(udpToDns(1), {"-m", "3"});
    EXPECT_EQ(run.out, "mode: 3 - unknown mode!\n");
    EXPECT_EQ(run.status, 1);
    run = runProgram({"-m", "3", "-r", trace});  // without a database the mode does not matter
    EXPECT_EQ(run.status, 0);
}

TEST_F(TrafficDatabase, RefusesDatabasesItCannotUseAndLeavesThemAsTheyWere) {
    writeTrace(trace, udpToDns(1));
    const std::string missingDir = dir.path("no/such/dir/x.db");
    Outcome run = runProgram({"-r", trace, "-d", missingDir});
    EXPECT_EQ(run.out, "SQLiteEngine: Can't open database: unable to open database file\n");
    EXPECT_EQ(run.status, 1);

    std::ofstream(dir.path("text.db")) << "this is not a database, it is a rather long text file\n";
    const std::string textBefore = fileBytes(dir.path("text.db"));
    run = runProgram({"-r", trace, "-d", dir.path("text.db")});
    EXPECT_EQ(run.out, "SQLiteEngine: Can't open database: file is not a database\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");  // nothing was sent to a file that is not a database
    EXPECT_EQ(fileBytes(dir.path("text.db")), textBefore);

    ASSERT_EQ(runProgram({"-r", trace, "-d", db}).status, 0);
    const std::string dbBefore = fileBytes(db);
    run = runProgram({"-r", trace, "-d", db, "-m", "2"});
    EXPECT_EQ(run.out,
              "SQLiteEngine: database " + db + " already holds tables; give a new file.\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(fileBytes(db), dbBefore);

    // A schema of a view alone still holds something of another run's: every insert would fail.
    const std::string views = dir.path("views.db");
    sqlite3* connection = nullptr;
    sqlite3_open(views.c_str(), &connection);
    ASSERT_EQ(sqlite3_exec(connection, "CREATE VIEW v AS SELECT 1", nullptr, nullptr, nullptr), 0);
    sqlite3_close(connection);
    const std::string viewsBefore = fileBytes(views);
    run = runProgram({"-r", trace, "-d", views});
    EXPECT_EQ(run.out,
              "SQLiteEngine: database " + views + " already holds tables; give a new file.\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(fileBytes(views), viewsBefore);

    std::ofstream(dir.path("empty.db")).close();  // an empty file is a new database
    EXPECT_EQ(runProgram({"-r", trace, "-d", dir.path("empty.db")}).status, 0);
    EXPECT_EQ(query(dir.path("empty.db"), "SELECT count(*) FROM FRAMES"), Rows{"1"});
}

// Statements that fail for want of a usable database fail the run, after the report: a device
// that keeps nothing, and an empty file the user may not write (as root, made so for the
// user nobody). Before anything is sent, a database that is the file the console text goes to
// is refused.
TEST_F(TrafficDatabase, RowsThatCouldNotBeStoredFailTheRun) {
    writeTrace(trace, udpToDns(3));
    const std::string tail = "\ntotal traffic analysis took: hh:mm:ss\n"
                             "\nError writing database file.\n";
    Outcome run = runProgram({"-r", trace, "-d", "/dev/null"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(normalizeDurations(run.out).ends_with(tail)) << run.out;

    const std::string readOnly = dir.path("read-only.db");
    std::ofstream(readOnly).close();
    unsigned user = 0;
    if (geteuid() == 0) {
        user = 65534;
        std::filesystem::permissions(dir.path(""), std::filesystem::perms::others_exec,
                                     std::filesystem::perm_options::add);
    } else {
        std::filesystem::permissions(readOnly, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
    }
    run = runProgram({"-r", trace, "-d", readOnly, "-m", "2"}, "", user);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(normalizeDurations(run.out).ends_with(tail)) << run.out;
    EXPECT_NE(run.err.find("readonly database"), std::string::npos) << run.err;
    EXPECT_EQ(fileBytes(readOnly), "");

    const int out = open(db.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const int pid = spawnProgram({"-r", trace, "-d", "/dev/stdout"}, -1, out, out);
    close(out);
    EXPECT_EQ(waitProgram(pid), 1);
    EXPECT_EQ(fileBytes(db).substr(0, 100),
              "SQLiteEngine: Can't open database: standard output goes to /dev/stdout\n");
}

// Two runs started together on one new database: the check that it is empty and the creation
// of the tables are one step, so one run makes the database and the other is refused, and the
// rows are one run's.
TEST_F(TrafficDatabase, SecondRunOnANewDatabaseIsRefusedEvenWhenStartedTogether) {
    writeTrace(trace, udpToDns(500));
    for (int round = 0; round < 3; ++round) {
        const std::string shared = dir.path("two-" + std::to_string(round) + ".db");
        const std::string out[] = {dir.path("one.txt"), dir.path("other.txt")};
        const int first = startProgram({"-r", trace, "-d", shared}, out[0]);
        const int second = startProgram({"-r", trace, "-d", shared}, out[1]);
        const int statuses[] = {waitProgram(first), waitProgram(second)};
        const int refused = statuses[0] == 1 ? 0 : 1;
        EXPECT_EQ(statuses[refused], 1);
        EXPECT_EQ(statuses[1 - refused], 0);
        EXPECT_EQ(fileBytes(out[refused]),
                  "SQLiteEngine: database " + shared + " already holds tables; give a new file.\n");
        EXPECT_EQ(query(shared, "SELECT count(*), count(DISTINCT frame) FROM FRAMES"),
                  Rows{"500|500"});
        EXPECT_EQ(tableNames(shared),
                  (Rows{"FRAMES", "IPPROTO", "SERVICES_UDP", "UDP", "UDP_raw"}));
    }
}

// Every create statement commits on its own, yet nothing waits for the disk: a run on a disk
// starts as soon as on memory. strace sees the calls (the leak checker of a sanitizer build
// cannot run under it, and is off); the test is skipped without strace.
TEST_F(TrafficDatabase, NothingWaitsForTheDisk) {
    if (!std::filesystem::exists("/usr/bin/strace")) {
        GTEST_SKIP() << "strace is not installed";
    }
    writeTrace(trace, handshake(1025));
    const std::string calls = dir.path("calls");
    for (const char* mode : {"1", "2"}) {
        std::filesystem::remove(db);
        const Outcome run = runBinary(
            "/usr/bin/strace", {"-f", "-qq", "-o", calls, "-E", "ASAN_OPTIONS=detect_leaks=0", "-e",
                                "trace=fsync,fdatasync,sync_file_range,syncfs,sync,msync",
                                TIDEWRACK_BINARY, "-r", trace, "-d", db, "-m", mode});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(fileBytes(calls), "") << "mode " << mode;
    }
}
