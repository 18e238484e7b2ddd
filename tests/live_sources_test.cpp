// Live adapters as inputs, seen from outside: the fallback to the first adapter, an input that
// stays when a later one fails, a first adapter that cannot be opened, and the snap length.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <regex>

#include "file_bytes.h"
#include "live_adapters.h"
#include "run_program.h"
#include "scratch_dir.h"

using namespace testkit;

TEST(LiveSources, FallbackToTheFirstAdapter) {
    if (!loopbackCaptureAllowed()) {
        GTEST_SKIP() << "live capture needs root or CAP_NET_RAW";
    }
    ScratchDir dir;
    const std::string first = firstAdapterShownName();
    const std::string tail = "PcapEngine: packet capture timeout elapsed.\n"
                             "\n0 packets analysed in: hh:mm:ss\n\n"
                             "total traffic analysis took: hh:mm:ss\n";
    const std::string missing = dir.path("missing.pcap");
    Outcome run = runProgram({"-f", silentFilter, "-r", missing});
    EXPECT_EQ(normalizeDurations(run.out), "\nUnable to open " + missing + ".(" + missing +
                                               ": No such file or directory)\n"
                                               "\nNo adapter specified - defaulting to " +
                                               first + "\nlistening on " + first + "...\n" + tail);
    // An input that opened stays the input when a later one fails.
    run = runProgram({"-f", silentFilter, "-i", "lo", "-r", missing});
    EXPECT_EQ(normalizeDurations(run.out), "\nUnable to open " + missing + ".(" + missing +
                                               ": No such file or directory)\n"
                                               "\nlistening on lo...\n" +
                                               tail);
    run = runProgram({"-f", silentFilter, "-I", "0"});
    EXPECT_EQ(normalizeDurations(run.out), "\nlistening on " + first + "...\n" + tail);
    EXPECT_EQ(run.status, 0);
}

TEST(LiveSources, FallbackAdapterThatCannotBeOpenedEndsTheRun) {
    constexpr unsigned nobody = 65534;
    if (getuid() != 0) {
        GTEST_SKIP() << "needs root, to run the program as a user without capture permission";
    }
    ScratchDir dir;
    const Outcome run = runProgram({"-r", dir.path("missing.pcap")}, "", nobody);
    if (run.status == 126 || run.status == 127) {
        GTEST_SKIP() << "the built program cannot be run by an unprivileged user from here";
    }
    const std::regex refused(R"(\nUnable to open .*\)\n\nNo adapter specified - defaulting to )"
                             R"(.*\nUnable to open adapter .*\. \n)");
    EXPECT_TRUE(std::regex_match(run.out, refused)) << run.out;
    EXPECT_EQ(run.status, 1);
}

TEST(LiveSources, SnapLengthDoesNotApplyToANamedAdapter) {
    if (!loopbackCaptureAllowed()) {
        GTEST_SKIP() << "live capture needs root or CAP_NET_RAW";
    }
    ScratchDir dir;
    const auto snapshotOf = [](const std::string& path) {
        char error[PCAP_ERRBUF_SIZE];
        pcap_t* in = pcap_open_offline(path.c_str(), error);
        const int snap = in ? pcap_snapshot(in) : -1;
        if (in) {
            pcap_close(in);
        }
        return snap;
    };
    runProgram({"-s", "96", "-i", "lo", "-f", silentFilter, "-w", dir.path("named.pcap")});
    EXPECT_EQ(snapshotOf(dir.path("named.pcap")), 65536);
}

// "any" opens but is not Ethernet, so the first adapter replaces it: a dump opened meanwhile
// is made anew for the first adapter, so that its header names the link type of its records.
TEST(LiveSources, DumpFollowsTheFallbackAdapter) {
    if (!loopbackCaptureAllowed()) {
        GTEST_SKIP() << "live capture needs root or CAP_NET_RAW";
    }
    const auto linkTypeOf = [](pcap_t* handle) {
        const int type = handle ? pcap_datalink(handle) : -1;
        if (handle) {
            pcap_close(handle);
        }
        return type;
    };
    char error[PCAP_ERRBUF_SIZE];
    if (linkTypeOf(pcap_open_live("any", 96, 0, 100, error)) == DLT_EN10MB) {
        GTEST_SKIP() << "no adapter \"any\" of another link type here";
    }
    pcap_if_t* devices = nullptr;
    ASSERT_EQ(pcap_findalldevs(&devices, error), 0);
    const int firstType = linkTypeOf(pcap_open_live(devices->name, 96, 0, 100, error));
    pcap_freealldevs(devices);
    ScratchDir dir;
    const Outcome run = runProgram({"-i", "any", "-f", silentFilter, "-w", dir.path("x.pcap")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(linkTypeOf(pcap_open_offline(dir.path("x.pcap").c_str(), error)), firstType);
}
