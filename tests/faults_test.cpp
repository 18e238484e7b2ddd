// Faults on the way out: a dump on a full device and a database whose final commit fails under
// a file size limit are both reported and end the run with status 1, after the run has done and
// reported everything else; and every way the program ends is clean under the sanitizers.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

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
// that a write past the limit fails with EFBIG instead of killing the writer; both are inherited
// by the program run under it. Restored when the object ends.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
        savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    }

  private:
    rlimit saved{};
    void (*savedHandler)(int) = SIG_DFL;
};

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
