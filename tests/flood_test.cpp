// Load: bounded floods of UDP datagrams on the loopback adapter, sent by the test itself as
// fast as it can and then stopped. The capture must end by itself after the read time-out,
// every packet it counts must be in the database, and packets lost in the kernel's capture
// buffer must be reported, but not packets the filter would have rejected anyway.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "database.h"
#include "file_bytes.h"
#include "live_adapters.h"
#include "run_program.h"
#include "scratch_dir.h"

using namespace testkit;
using namespace std::chrono_literals;

namespace {

constexpr int datagrams = 200000;

// How many datagrams reached the UDP socket bound to 127.0.0.1:port: those still queued (read
// here) plus those the socket dropped for want of room. Each of them passed the adapter's
// receive path, where every capture on it is offered the packet; datagrams lost before that
// (in the loopback adapter's own backlog) were never there to be captured.
long long datagramsArrived(int sink, int port) {
    long long arrived = 0;
    int datagram = 0;
    while (recv(sink, &datagram, sizeof datagram, MSG_DONTWAIT) > 0) {
        ++arrived;
    }
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    std::ifstream table("/proc/net/udp");
    std::string line, field;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::vector<std::string> row;
        while (fields >> field) {
            row.push_back(field);
        }
        if (row.size() >= 13 && row[1] == local) {
            arrived += std::stoll(row.back());
        }
    }
    return arrived;
}

// True once the program has created the tables of its database, one 4 KiB page each: the
// capture loop starts a few milliseconds later. Only the file size is looked at, since a
// reader's lock could make the program's statements fail, and its console output is buffered.
bool tablesCreated(const std::string& db) {
    std::error_code absent;
    return std::filesystem::file_size(db, absent) >= 144 * 4096 && !absent;
}

}  // namespace

TEST(Flood, EveryCountedPacketIsRecordedAndLossesAreReported) {
    if (!loopbackCaptureAllowed()) {
        GTEST_SKIP() << "live capture on lo needs root or CAP_NET_RAW";
    }
    ScratchDir dir;
    const int port = 40000 + getpid() % 20000;
    // A bound receiver that never reads: the datagrams need no ICMP answer.
    const int sink = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in at = loopbackAddress(port);
    ASSERT_EQ(bind(sink, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);

    // Standard error apart: the service tables of the protocols not seen report their errors
    // there, which must not cut the lines read here.
    const std::string db = dir.path("flood.db"), out = dir.path("out.txt");
    const int pid =
        startProgram({"-i", "lo", "-f", "udp dst port " + std::to_string(port), "-d", db}, out,
                     dir.path("err.txt"));
    // A trickle keeps the capture from timing out while the program starts; the flood follows
    // once the loop runs, and the capture ends a second after both stop.
    std::atomic<bool> stop{false};
    int trickled = 0;
    std::thread trickle([&] { trickled = sendDatagrams(port, INT32_MAX, 20ms, stop); });
    for (int i = 0; i < 600 && !tablesCreated(db); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(300ms);
    const int flooded = sendDatagrams(port, datagrams, 0us, stop);
    stop = true;
    trickle.join();
    const int status = waitProgram(pid);
    const long long arrived = datagramsArrived(sink, port);
    close(sink);
    EXPECT_EQ(flooded, datagrams);

    const std::string text = fileBytes(out);
    EXPECT_EQ(status, 0) << text;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, std::regex("\n([0-9]+) packets analysed in: "))) << text;
    const int packets = std::stoi(m[1]);
    EXPECT_NE(text.find("PcapEngine: packet capture timeout elapsed.\n"), std::string::npos);
    EXPECT_EQ(query(db, "SELECT count(*), count(DISTINCT frame), max(frame) FROM FRAMES"),
              std::vector<std::string>{std::to_string(packets) + "|" + std::to_string(packets) +
                                       "|" + std::to_string(packets)});
    EXPECT_EQ(query(db, "SELECT count(*) FROM UDP_raw"),
              std::vector<std::string>{std::to_string(packets)});

    const bool dropLine = std::regex_search(
        text, m, std::regex("\nPcapEngine: ([0-9]+) packets dropped by the kernel\\.\n"));
    std::cout << "flooded " << flooded << " after " << trickled << " trickled, " << arrived
              << " arrived, captured " << packets << ", dropped "
              << (dropLine ? m[1].str() : "none") << "\n";
    // Every datagram that arrived matched the filter, and all but the first trickled ones came
    // after it was in place: fewer captured than that means the capture buffer lost some, which
    // must be said. Drops can also be other loopback traffic lost before the filter was set, so
    // a drop line alone proves nothing more.
    EXPECT_LE(packets, flooded + trickled);
    EXPECT_LE(packets, arrived);
    if (packets < arrived - trickled) {
        ASSERT_TRUE(dropLine) << text;
        EXPECT_GE(std::stoll(m[1]), arrived - trickled - packets);
    }
}

// Until its filter is in place an adapter takes every packet, while the program creates its
// database: a flood of other traffic then fills the kernel's buffer, but those are packets the
// capture never wanted, and nothing may be reported as lost.
TEST(Flood, TrafficBeforeTheFilterIsNotReportedAsLost) {
    if (!loopbackCaptureAllowed()) {
        GTEST_SKIP() << "live capture on lo needs root or CAP_NET_RAW";
    }
    ScratchDir dir;
    const int port = 40000 + getpid() % 20000;
    std::atomic<bool> stop{false};
    std::thread other([&] { sendDatagrams(port, datagrams * 50, 0us, stop); });
    const Outcome run = runProgram({"-i", "lo", "-f", silentFilter, "-d", dir.path("quiet.db")});
    stop = true;
    other.join();
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\nlistening on lo...\nPcapEngine: packet capture timeout elapsed.\n"
                           "\n0 packets analysed in: "),
              std::string::npos)
        << run.out;
}
