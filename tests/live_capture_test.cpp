// Live capture on the loopback adapter, with datagrams the test sends to 127.0.0.1 itself:
// the packet budget, and an interrupt that still finishes the run and its database.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "database.h"
#include "file_bytes.h"
#include "live_adapters.h"
#include "run_program.h"
#include "scratch_dir.h"

using namespace testkit;
using namespace std::chrono_literals;

namespace {

int testPort() {
    return 20000 + getpid() % 20000;
}

}  // namespace

class LiveCapture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!loopbackCaptureAllowed()) {
            GTEST_SKIP() << "live capture on lo needs root or CAP_NET_RAW";
        }
    }
    ScratchDir dir;
    const std::string filter = "udp dst port " + std::to_string(testPort());
};

TEST_F(LiveCapture, BudgetEndsTheCaptureAfterCountPackets) {
    UdpSender sender(testPort());
    const Outcome run = runProgram({"-v", "-i", "lo", "-f", filter, "-c", "3"});
    EXPECT_EQ(run.status, 0);
    const std::string line = "UDP 127.0.0.1:";
    const std::string tail = "  ->  127.0.0.1:" + std::to_string(testPort()) + "\n";
    std::size_t lines = 0;
    for (std::size_t at = run.out.find(tail); at != std::string::npos;
         at = run.out.find(tail, at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 3u) << run.out;
    EXPECT_NE(run.out.find("\n3 packets analysed in: "), std::string::npos) << run.out;
}

TEST_F(LiveCapture, InterruptFinishesTheRunAndCommitsTheDatabase) {
    UdpSender sender(testPort());
    const std::string db = dir.path("live.db"), out = dir.path("out.txt");
    const int pid = startProgram({"-i", "lo", "-f", filter, "-d", db, "-w", dir.path("live.pcap")},
                                 out, dir.path("err.txt"));
    EXPECT_TRUE(waitUntilCatching(pid, SIGINT));
    std::this_thread::sleep_for(500ms);
    kill(pid, SIGINT);
    EXPECT_EQ(waitProgram(pid), 0);
    const std::string text = fileBytes(out);
    EXPECT_NE(text.find("PcapEngine: packet capture interrupted.\n"), std::string::npos) << text;
    const std::size_t report = text.find(" packets analysed in: ");
    ASSERT_NE(report, std::string::npos) << text;
    const std::string packets =
        text.substr(text.rfind('\n', report) + 1, report - text.rfind('\n', report) - 1);
    EXPECT_GT(std::stoi(packets), 0);
    EXPECT_EQ(query(db, "SELECT count(*) FROM FRAMES"), std::vector<std::string>{packets});
    EXPECT_EQ(query(db, "SELECT name FROM IPPROTO"), std::vector<std::string>{"UDP"});
    EXPECT_NE(text.find("UDP... done.\n"), std::string::npos);
}

TEST_F(LiveCapture, KilledRunLeavesTheTablesAndNoRows) {
    UdpSender sender(testPort());
    const std::string db = dir.path("killed.db");
    const int pid = startProgram({"-i", "lo", "-f", filter, "-d", db}, dir.path("out.txt"));
    EXPECT_TRUE(waitUntilCatching(pid, SIGINT));
    for (int tries = 0;
         tries < 600 && fileBytes(dir.path("out.txt")).find("listening on") == std::string::npos;
         ++tries) {
        std::this_thread::sleep_for(50ms);
    }
    // The rollback journal appears with the transaction's first row: rows were inserted and
    // none committed when the kill comes.
    std::error_code absent;
    for (int tries = 0; tries < 200 && std::filesystem::file_size(db + "-journal", absent) == 0;
         ++tries) {
        std::this_thread::sleep_for(25ms);
    }
    ASSERT_GT(std::filesystem::file_size(db + "-journal", absent), 0u) << "no row was inserted";
    kill(pid, SIGKILL);
    EXPECT_EQ(waitProgram(pid), 128 + SIGKILL);
    // The first writer to open the database rolls its journal back, as any user would.
    sqlite3* connection = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &connection), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(connection, "SELECT count(*) FROM FRAMES", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(connection);
    EXPECT_EQ(tableNames(db).size(), 144u);  // FRAMES, IPPROTO and the raw tables
    EXPECT_EQ(query(db, "SELECT count(*) FROM FRAMES"), std::vector<std::string>{"0"});
}

// The adapter "any" gives Linux cooked frames: the extended record reads them at their own
// offsets, and keeps the kernel's counts of the capture.
TEST_F(LiveCapture, ExtendedRecordReadsTheAnyAdapter) {
    UdpSender sender(testPort());
    const std::string db = dir.path("any.db");
    const Outcome run = runProgram({"-x", "-i", "any", "-f", filter, "-c", "3", "-d", db});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(query(db, "SELECT DISTINCT sIP1, sIP4, dIP1, dPort, ipproto FROM FRAMES"),
              std::vector<std::string>{"127|1|127|" + std::to_string(testPort()) + "|UDP"});
    EXPECT_EQ(query(db, "SELECT count(*) FROM FRAMES"), std::vector<std::string>{"3"});
    EXPECT_EQ(query(db, "SELECT source, link_type, filter, kernel_received > 0, "
                        "kernel_dropped IS NOT NULL FROM CAPTURE"),
              std::vector<std::string>{"any|LINUX_SLL|" + filter + "|1|1"});
}
