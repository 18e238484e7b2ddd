// Faults on the way out: a dump on a full device, a database that fills up or whose final
// commit fails, a file size limit and console output that cannot be written are all reported
// and end the run with status 1, after the run has done and reported everything else; closed
// standard descriptors, a closed terminal and a broken pipe lose nothing; and every way the
// program ends is clean under the sanitizers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "database.h"
#include "file_bytes.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace tracekit;
using Rows = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// Limits the size of files written by this process and its children, with SIGXFSZ ignored so
// that a write past the limit fails with EFBIG instead of killing the writer (or, with
// `signalKills`, at its default, as a shell's ulimit -f leaves it); both are inherited by the
// program run under it. Restored when the object ends.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes, bool signalKills = false) {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
        savedHandler = std::signal(SIGXFSZ, signalKills ? SIG_DFL : SIG_IGN);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    }

  private:
    rlimit saved{};
    void (*savedHandler)(int) = SIG_DFL;
};

// A file's descriptor, closed when the object ends.
struct Descriptor {
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(const std::string& path, int flags)
        : fd(open(path.c_str(), flags | O_CLOEXEC, 0644)) {}
    ~Descriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
    int fd;
};

int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// Waits up to half a minute for `part` to appear in the file at `path`.
bool waitForText(const std::string& path, const std::string& part) {
    for (int tries = 0; tries < 300; ++tries) {
        if (fileBytes(path).find(part) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// The state letter of a process (R running, S sleeping...).
char processState(int pid) {
    const std::string stat = fileBytes("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = stat.rfind(')');
    return end == std::string::npos || end + 2 >= stat.size() ? '?' : stat[end + 2];
}

}  // namespace

// The dump goes to /dev/full: every record is still analysed and committed to the database,
// the report is printed, and then the lost dump is reported with status 1. A small dump that
// only fails when flushed at the end is caught as well as a large one that fails on the way.
TEST(Faults, DumpThatCannotBeWrittenIsReportedWithStatusOne) {
    ScratchDir dir;
    for (int packets : {1, 2000}) {
        SCOPED_TRACE(packets);
        const std::string trace = dir.path("in.pcap"), db = dir.path("traffic.db");
        fs::remove(db);
        writeTrace(trace, udpRecords(packets, 100));
        const Outcome run = runProgram({"-r", trace, "-w", "/dev/full", "-d", db});
        EXPECT_EQ(run.status, 1);
        const std::string report = std::to_string(packets) + " packets analysed in: ";
        EXPECT_NE(run.out.find(report), std::string::npos) << run.out;
        const std::string tail = "\ntotal traffic analysis took: hh:mm:ss\n"
                                 "\nError writing dump file.\n";
        const std::string out = normalizeDurations(run.out);
        ASSERT_GE(out.size(), tail.size());
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
        EXPECT_EQ(query(db, "SELECT count(*) FROM FRAMES"), Rows{std::to_string(packets)});
    }
    // The same run with a writable dump succeeds.
    const Outcome run = runProgram({"-r", dir.path("in.pcap"), "-w", dir.path("out.pcap")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readTrace(dir.path("out.pcap")).size(), 2000u);
}

// The tables fit under the limit, the rows do not: the failing COMMIT is reported by the
// database engine and the run ends with status 1 instead of claiming success. The database is
// left as it was before the transaction: its tables, none of the rows.
TEST(Faults, FailedCommitEndsWithStatusOne) {
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap");
    writeTrace(trace, udpRecords(1, 100));
    ASSERT_EQ(runProgram({"-r", trace, "-d", dir.path("one.db")}).status, 0);
    const auto tablesOnly = fs::file_size(dir.path("one.db"));

    writeTrace(trace, udpRecords(3000, 100));
    const std::string db = dir.path("traffic.db");
    Outcome run;
    {
        FileSizeLimit limit(tablesOnly + 16 * 1024);
        run = runProgram({"-r", trace, "-d", db});
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("\n3000 packets analysed in: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\ntotal traffic analysis took: "), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("SQL error: "), std::string::npos) << run.err;
    EXPECT_EQ(query(db, "SELECT count(*) FROM FRAMES"), Rows{"0"});
    EXPECT_EQ(query(db, "SELECT count(*) FROM sqlite_master WHERE name LIKE '%_raw'"), Rows{"142"});
}

// Every way the program ends, including exit(1) in the middle of the run sequence, leaves
// nothing for the sanitizers and leak checker of an instrumented build to report.
TEST(Faults, EveryWayOutIsClean) {
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap");
    writeTrace(trace, udpRecords(3, 100));
    const std::vector<std::string> cases[] = {
        {"-m", "3", "-d", dir.path("mode.db")},
        {"-i", "x", "-I", "2"},
        {"-F", "filter.txt"},
        {"-w", dir.path("nothing.pcap")},
        {"-r", trace, "-d", dir.path("no/such/dir.db")},
        {"-V"},
        {"--bogus", "-h"},
        {"-r", trace, "-w", "/dev/full"},
        {"-v", "-c", "1", "-r", trace, "-m", "2", "-d", dir.path("frames.db")},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const std::string& a : args) {
            line += a + " ";
        }
        SCOPED_TRACE(line);
        const Outcome run = runProgram(args);
        EXPECT_LE(run.status, 1);
        EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
    }
}

// The database fills up in the middle of the run (here a file size limit; a full disk does the
// same) and SQLite rolls the whole transaction back. Nothing more is sent after the failed
// statement, so the database keeps its tables and none of the rows, instead of a partial set
// committed statement by statement; the capture and the report go on, and the run fails.
TEST(Faults, DatabaseThatFillsUpKeepsNoRowsAndFailsTheRun) {
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap"), db = dir.path("traffic.db");
    writeTrace(trace, udpRecords(1, 100));
    ASSERT_EQ(runProgram({"-r", trace, "-d", dir.path("one.db")}).status, 0);
    const auto tablesOnly = fs::file_size(dir.path("one.db"));

    writeTrace(trace, udpRecords(40000, 100));  // more than SQLite's page cache holds
    Outcome run;
    {
        FileSizeLimit limit(tablesOnly + 64 * 1024);
        run = runProgram({"-r", trace, "-d", db});
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(countOf(run.err, "SQL error: "), 1) << run.err;
    const std::string tail = "\ntotal traffic analysis took: hh:mm:ss\n"
                             "\nError writing database file.\n";
    const std::string out = normalizeDurations(run.out);
    EXPECT_EQ(out.substr(out.size() - std::min(out.size(), tail.size())), tail);
    EXPECT_NE(out.find("\n40000 packets analysed in: "), std::string::npos);
    EXPECT_EQ(query(db, "SELECT count(*) FROM FRAMES"), Rows{"0"});
    EXPECT_EQ(tableNames(db).size(), 144u);
}

// A file size limit as the shell sets it leaves SIGXFSZ at its default, which would kill the
// run in the middle of a record; the program ignores it and reports the failed writes.
TEST(Faults, FileSizeLimitIsReportedNotFatal) {
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap");
    writeTrace(trace, udpRecords(2000, 100));
    Outcome run;
    {
        FileSizeLimit limit(64 * 1024, true);
        run = runProgram({"-r", trace, "-w", dir.path("out.pcap")});
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("\n2000 packets analysed in: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nError writing dump file.\n"), std::string::npos) << run.out;
}

// Console output that is lost (here to a full device) fails the run and is said where it can
// still be read.
TEST(Faults, LostConsoleOutputFailsTheRun) {
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap");
    writeTrace(trace, udpRecords(3));
    Descriptor full("/dev/full", O_WRONLY), err(dir.path("err.txt"), O_WRONLY | O_CREAT);
    const int pid = spawnProgram({"-v", "-r", trace}, -1, full.fd, err.fd);
    EXPECT_EQ(waitProgram(pid), 1);
    EXPECT_EQ(fileBytes(dir.path("err.txt")),
              "tidewrack: error writing standard output: No space left on device\n");
}

// Started with standard error closed, the program would open its dump on descriptor 2 and write
// the SQL errors of the end of the run into the middle of it.
TEST(Faults, ClosedStandardDescriptorsAreNotReused) {
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap");
    writeTrace(trace, {{ipv4Frame(6, {10, 0, 0, 1}, {10, 0, 0, 2}, tcpHeader(1024, 80, 0x02))}});
    ASSERT_EQ(runProgram({"-r", trace, "-w", dir.path("expected.pcap")}).status, 0);
    Descriptor in(trace, O_RDONLY), null("/dev/null", O_WRONLY);
    const int pid = spawnProgram({"-r", "-", "-w", dir.path("out.pcap"), "-d", dir.path("t.db")},
                                 in.fd, null.fd, -1);
    EXPECT_EQ(waitProgram(pid), 0);
    EXPECT_EQ(fileBytes(dir.path("out.pcap")), fileBytes(dir.path("expected.pcap")));
    EXPECT_EQ(query(dir.path("t.db"), "SELECT count(*) FROM FRAMES"), Rows{"1"});
}

// The reader of verbose output goes away (tidewrack -v ... | head): the broken pipe stops the
// capture at the next packet, the rows read so far are committed with the end-of-run tables,
// and the lost output fails the run.
TEST(Faults, BrokenPipeKeepsTheRowsReadSoFar) {
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap"), db = dir.path("t.db");
    writeTrace(trace, udpRecords(20000));  // far more lines than a pipe holds
    int output[2];
    ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
    Descriptor reader(output[0]), err(dir.path("err.txt"), O_WRONLY | O_CREAT);
    const int pid = spawnProgram({"-v", "-r", trace, "-d", db}, -1, output[1], err.fd);
    close(output[1]);
    char first[64];
    ASSERT_GT(read(reader.fd, first, sizeof first), 0);
    close(reader.fd);
    reader.fd = -1;
    EXPECT_EQ(waitProgram(pid), 1);
    EXPECT_NE(fileBytes(dir.path("err.txt")).find("error writing standard output: Broken pipe"),
              std::string::npos);
    const int frames = std::stoi(query(db, "SELECT count(*) FROM FRAMES")[0]);
    EXPECT_GT(frames, 0);
    EXPECT_LT(frames, 20000);
    EXPECT_EQ(query(db, "SELECT count(*) FROM UDP_raw"), Rows{std::to_string(frames)});
    EXPECT_EQ(query(db, "SELECT * FROM SERVICES_UDP"), Rows{"DNS"});
}

// The terminal goes away (SIGHUP) while a trace arrives on standard input: as with SIGINT, the
// capture stops at the next packet and everything read is committed. SIGINT was ignored when
// the program started, as in a background job, and stays ignored.
TEST(Faults, HangupFinishesTheRunAndIgnoredSignalsStayIgnored) {
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap"), db = dir.path("t.db");
    writeTrace(trace, udpRecords(3));
    int input[2];
    ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
    Descriptor writer(input[1]), out(dir.path("out.txt"), O_WRONLY | O_CREAT);
    const int pid = spawnProgram({"-r", "-", "-d", db}, input[0], out.fd, out.fd, {SIGINT});
    close(input[0]);
    const std::string bytes = fileBytes(trace);
    ASSERT_EQ(write(writer.fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ASSERT_TRUE(waitUntilCatching(pid, SIGHUP));
    // The trace's file header is read when it opens, its records once the loop runs.
    for (int tries = 0;
         tries < 600 && fileBytes(dir.path("out.txt")).find("listening on") == std::string::npos;
         ++tries) {
        usleep(50000);
    }
    ASSERT_TRUE(waitUntilReadingAPipe(pid));
    const std::string status = fileBytes("/proc/" + std::to_string(pid) + "/status");
    const auto mask = [&status](const std::string& name) {
        return std::stoull(status.substr(status.find(name + ":") + name.size() + 1), nullptr, 16);
    };
    EXPECT_TRUE(mask("SigIgn") & (1ull << (SIGINT - 1)));
    EXPECT_FALSE(mask("SigCgt") & (1ull << (SIGINT - 1)));
    kill(pid, SIGINT);
    kill(pid, SIGHUP);
    EXPECT_EQ(waitProgram(pid), 0);
    const std::string text = fileBytes(dir.path("out.txt"));
    EXPECT_NE(text.find("PcapEngine: packet capture interrupted.\n\n3 packets analysed in: "),
              std::string::npos)
        << text;
    EXPECT_EQ(query(db, "SELECT count(*) FROM FRAMES"), Rows{"3"});
    EXPECT_EQ(query(db, "SELECT * FROM IPPROTO"), Rows{"UDP"});
}

// A user peeks at the database of a running capture (sqlite3 traffic.db, a read transaction
// held open) just as the run commits: the run waits for the reader, says once on standard error
// why it waits, and then commits every row.
TEST(Faults, ReaderAtCommitTimeIsWaitedFor) {
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap"), db = dir.path("race.db");
    writeTrace(trace, udpRecords(2000));
    const std::string bytes = fileBytes(trace);
    const std::size_t firstHalf = 24 + 1000 * (bytes.size() - 24) / 2000;
    int input[2];
    ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
    Descriptor writer(input[1]), out(dir.path("out.txt"), O_WRONLY | O_CREAT),
        err(dir.path("err.txt"), O_WRONLY | O_CREAT);
    const int pid = spawnProgram({"-r", "-", "-d", db, "-m", "2"}, input[0], out.fd, err.fd);
    close(input[0]);
    ASSERT_EQ(write(writer.fd, bytes.data(), firstHalf), static_cast<ssize_t>(firstHalf));
    ASSERT_TRUE(waitForText(dir.path("out.txt"), "listening on"));

    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM frames;", nullptr, nullptr, nullptr),
        SQLITE_OK);
    ASSERT_EQ(write(writer.fd, bytes.data() + firstHalf, bytes.size() - firstHalf),
              static_cast<ssize_t>(bytes.size() - firstHalf));
    close(writer.fd);
    writer.fd = -1;
    const bool waited = waitForText(dir.path("err.txt"), "locked by another process");
    sqlite3_exec(reader, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    EXPECT_TRUE(waited);
    EXPECT_EQ(waitProgram(pid), 0);
    EXPECT_EQ(fileBytes(dir.path("err.txt")),
              "SQLiteEngine: database " + db + " is locked by another process; waiting for it.\n");
    EXPECT_EQ(query(db, "SELECT count(*) FROM frames"), Rows{"2000"});
}

// Control-C while the console output waits for a full pipe: the write goes on once the pipe is
// read, nothing of the console text is lost, and the run ends as an interrupted one does.
TEST(Faults, InterruptWhileTheConsolePipeIsFullLosesNoText) {
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap");
    writeTrace(trace, udpRecords(50000));  // two spinner bytes a packet: more than a pipe holds
    int output[2];
    ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
    Descriptor reader(output[0]), err(dir.path("err.txt"), O_WRONLY | O_CREAT);
    const int pid = spawnProgram({"-r", trace, "-d", dir.path("x.db")}, -1, output[1], err.fd);
    close(output[1]);
    const int capacity = fcntl(reader.fd, F_GETPIPE_SZ);
    int queued = 0;
    for (int tries = 0; tries < 600; ++tries) {
        ioctl(reader.fd, FIONREAD, &queued);
        // A write of a stdio buffer waits for a whole free page of the pipe.
        if (queued > capacity - 4096 && processState(pid) == 'S') {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GT(queued, capacity - 4096);
    kill(pid, SIGINT);
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = read(reader.fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(waitProgram(pid), 0);
    EXPECT_EQ(fileBytes(dir.path("err.txt")).find("error writing"), std::string::npos);
    const std::size_t report = text.find("PcapEngine: packet capture interrupted.\n\n");
    ASSERT_NE(report, std::string::npos) << text.substr(text.size() - 200);
    const int packets = std::stoi(text.substr(report + 41));
    EXPECT_EQ(countOf(text.substr(0, report), "\b"), packets);
    EXPECT_EQ(query(dir.path("x.db"), "SELECT count(*) FROM FRAMES"),
              Rows{std::to_string(packets)});
}
