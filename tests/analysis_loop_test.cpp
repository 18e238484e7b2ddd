// The analysis loop: packet budget, spinner, dump copying, progress as it happens, and the
// timing report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstring>

#include "file_bytes.h"
#include "run/duration.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace tracekit;

namespace {

std::string udpTrace(const ScratchDir& dir, int packets) {
    std::vector<Record> records;
    for (int i = 0; i < packets; ++i) {
        records.push_back({ipv4Frame(17, {10, 0, 0, 1}, {10, 0, 0, 2}, udpHeader(1024 + i, 53, i)),
                           1700000000 + i, i * 1000});
    }
    const std::string path = dir.path(std::to_string(packets) + ".pcap");
    writeTrace(path, records);
    return path;
}

// What a quiet run prints after the listening line: n spinner pairs and the report.
std::string quietRun(int packets) {
    std::string spin;
    for (int i = 0; i < packets; ++i) {
        spin += std::string("\b") + "-\\|/"[i % 4];
    }
    return spin + "\n" + std::to_string(packets) +
           " packets analysed in: hh:mm:ss\n\ntotal traffic analysis took: hh:mm:ss\n";
}

// Reads `fd` until `text` has come, for up to ten seconds; returns all that was read.
std::string readUntil(int fd, const std::string& text) {
    std::string got;
    for (int waits = 0; waits < 100 && got.find(text) == std::string::npos; ++waits) {
        pollfd ready{fd, POLLIN, 0};
        char buffer[4096];
        if (poll(&ready, 1, 100) == 1) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return got;
}

}  // namespace

TEST(AnalysisLoop, PacketBudgetAndSpinner) {
    ScratchDir dir;
    const std::string ten = udpTrace(dir, 10), three = udpTrace(dir, 3), five = udpTrace(dir, 5);
    const struct {
        std::vector<std::string> args;
        int packets;
    } cases[] = {
        {{"-c", "3", "-r", ten}, 3},
        {{"-c", "10", "-r", three}, 3},
        {{"-c", "abc", "-r", ten}, 10},
        {{"-c", "-2", "-r", ten}, 10},
        {{"-r", five}, 5},  // five pairs, the fifth a dash again
    };
    for (const auto& c : cases) {
        const Outcome run = runProgram(c.args);
        EXPECT_EQ(normalizeDurations(run.out),
                  "\nlistening on " + c.args.back() + "...\n" + quietRun(c.packets))
            << c.args[0] << c.args[1];
        EXPECT_EQ(run.status, 0);
    }
}

TEST(AnalysisLoop, DumpCopiesEveryRecordUnchanged) {
    ScratchDir dir;
    std::vector<Record> records;
    for (int i = 0; i < 40; ++i) {
        Record r{ipv4Frame(6, {1, 2, 3, 4}, {5, 6, 7, 8}, tcpHeader(80, 1000 + i, 0x18)),
                 1700000000 + i / 7, 12345 + i};
        r.capturedLength = i % 3 == 0 ? 20 : UINT32_MAX;  // some too short to decode
        r.wireLength = 1500;
        records.push_back(r);
    }
    writeTrace(dir.path("in.pcap"), records);
    const Outcome run =
        runProgram({"-r", dir.path("in.pcap"), "-w", dir.path("out.pcap"), "-c", "35"});
    EXPECT_EQ(run.status, 0);
    const auto in = readTrace(dir.path("in.pcap")), out = readTrace(dir.path("out.pcap"));
    ASSERT_EQ(out.size(), 35u);
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(std::memcmp(&in[i].header, &out[i].header, sizeof(pcap_pkthdr)), 0) << i;
        EXPECT_EQ(in[i].bytes, out[i].bytes) << i;
    }
}

TEST(AnalysisLoop, DurationSplitKeepsHoursBeyondADay) {
    const auto text = [](std::time_t seconds) {
        const tidewrack::Duration d = tidewrack::splitDuration(0, seconds);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.2d:%.2d:%.2d", d.hours, d.minutes, d.seconds);
        return std::string(buffer);
    };
    EXPECT_EQ(text(0), "00:00:00");
    EXPECT_EQ(text(3600 + 120 + 5), "01:02:05");
    EXPECT_EQ(text(100 * 3600), "100:00:00");
    EXPECT_EQ(text(100 * 3600 - 1), "99:59:59");
}

// A watcher sees progress while the capture runs, not when it ends: through a pipe, the
// listening line as soon as capture starts; on a terminal, the spinner of the first packet. The
// trace comes on standard input and its end is held back until both have been seen.
TEST(AnalysisLoop, ProgressReachesAWatcherAsItHappens) {
    ScratchDir dir;
    const std::string trace = fileBytes(udpTrace(dir, 1));
    for (const bool terminal : {false, true}) {
        SCOPED_TRACE(terminal ? "terminal" : "pipe");
        int input[2], output[2];
        ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
        ASSERT_EQ(terminal ? openpty(&output[0], &output[1], nullptr, nullptr, nullptr)
                           : pipe2(output, O_CLOEXEC),
                  0);
        fcntl(output[0], F_SETFD, FD_CLOEXEC);
        fcntl(output[1], F_SETFD, FD_CLOEXEC);
        const int pid = spawnProgram({"-r", "-"}, input[0], output[1], output[1]);
        close(input[0]);
        close(output[1]);
        ASSERT_EQ(write(input[1], trace.data(), trace.size()), static_cast<ssize_t>(trace.size()));
        const std::string seen = readUntil(output[0], terminal ? "\b-" : "listening on -...\n");
        EXPECT_NE(seen.find(terminal ? "\b-" : "listening on -...\n"), std::string::npos) << seen;
        close(input[1]);
        readUntil(output[0], "took: ");
        EXPECT_EQ(waitProgram(pid), 0);
        close(output[0]);
    }
}
