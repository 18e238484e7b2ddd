// The README's recipes for many traces, run as they stand: a thousand small traces analysed
// into a thousand databases in parallel, with xargs -P and with GNU parallel, then reported in
// one run, where every database has its line and the traffic adds up as one body, under a
// tight limit of open files too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "database.h"
#include "report_test_kit.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace reportkit;
namespace fs = std::filesystem;

namespace {

constexpr int traces = 1000;

}  // namespace

TEST(ReportManyDatabases, TheReadmeRecipesReportAThousandDatabasesInOneRun) {
    ScratchDir dir;
    fs::create_directory(dir.path("traces"));
    // Trace i: three DNS queries from its own host, 10.0.i/256.i%256.
    for (int i = 0; i < traces; ++i) {
        tracekit::Bytes udp = tracekit::udpHeader(static_cast<std::uint16_t>(40000 + i), 53, 20);
        udp.resize(udp.size() + 20);
        const tracekit::Bytes frame = tracekit::ipv4Frame(
            17, {10, 0, static_cast<std::uint8_t>(i / 256), static_cast<std::uint8_t>(i % 256)},
            {10, 255, 0, 1}, udp);
        char name[32];
        std::snprintf(name, sizeof name, "traces/t%04d.pcap", i);
        tracekit::writeTrace(dir.path(name),
                             {{frame, 1700000000}, {frame, 1700000001}, {frame, 1700000002}});
    }
    const std::string bin = fs::path(TIDEWRACK_REPORT_BINARY).parent_path().string();
    const bool parallel = std::system("command -v parallel >/dev/null 2>&1") == 0;
    for (const std::string runner : {"xargs", "GNU parallel"}) {
        if (runner == "GNU parallel" && !parallel) {
            std::printf("GNU parallel is not installed (apt-get install parallel): skipped\n");
            continue;
        }
        const std::string commands = readmeRecipe("many databases with " + runner);
        ASSERT_NE(commands, "") << "no recipe with " << runner << " in the README";
        fs::remove_all(dir.path("dbs"));
        fs::remove(dir.path("traffic.html"));
        const Outcome run = runBinary(
            "/usr/bin/env",
            {"-C", dir.path(""), "PATH=" + bin + ":" + std::getenv("PATH"), "sh", "-ec", commands});
        ASSERT_EQ(run.status, 0) << runner << ": " << run.out << run.err;
        EXPECT_TRUE(fs::is_regular_file(dir.path("traffic.html"))) << runner;

        std::vector<std::string> args = {"--json", "--top", "0"};
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path("dbs"))) {
            args.push_back(entry.path().string());
            names.insert(entry.path().stem().string());
        }
        ASSERT_EQ(names.size(), static_cast<std::size_t>(traces)) << runner;
        EXPECT_EQ(*names.begin(), "t0000");
        EXPECT_EQ(*names.rbegin(), "t0999");
        const Outcome json = runReport(args);
        ASSERT_EQ(json.status, 0) << json.err;
        EXPECT_EQ(jsonQuery(json.out, "SELECT json_array_length(?1, '$.databases'), "
                                      "?1 ->> '$.summary.frames', ?1 ->> '$.summary.endpoints', "
                                      "?1 ->> '$.summary.conversations', "
                                      "?1 ->> '$.endpoints[0].address', "
                                      "?1 ->> '$.endpoints[0].frames_received', "
                                      "(SELECT count(*) FROM json_each(?1, '$.databases') "
                                      "WHERE value ->> 'frames' = 3)"),
                  std::vector<std::string>{"1000|3000|1001|1000|10.255.0.1|3000|1000"})
            << runner;
        // A few databases stay open from their dates to their frames; under a file limit that
        // leaves room for none, each is opened again, and the report is the same.
        args.insert(args.begin(),
                    {"-ec", "ulimit -n 20; exec \"$0\" \"$@\"", TIDEWRACK_REPORT_BINARY});
        const Outcome limited = runBinary("/bin/sh", args);
        ASSERT_EQ(limited.status, 0) << limited.err;
        EXPECT_EQ(limited.out, json.out);

        // A trace cut short, as the last file of a rotation still being written is: the recipe
        // says so on standard error, and its database keeps the frames read before the cut.
        ScratchDir cut;
        fs::create_directory(cut.path("traces"));
        fs::copy_file(dir.path("traces/t0000.pcap"), cut.path("traces/whole.pcap"));
        const std::string bytes = fileBytes(dir.path("traces/t0001.pcap"));
        std::ofstream(cut.path("traces/cut.pcap"), std::ios::binary)
            << bytes.substr(0, bytes.size() - 10);
        const Outcome noticed = runBinary(
            "/usr/bin/env",
            {"-C", cut.path(""), "PATH=" + bin + ":" + std::getenv("PATH"), "sh", "-ec", commands});
        EXPECT_EQ(noticed.status, 0) << runner << ": " << noticed.err;
        EXPECT_NE(noticed.err.find("PcapEngine: error reading packets: truncated dump file"),
                  std::string::npos)
            << runner << ": " << noticed.err;
        EXPECT_NE(noticed.err.find("did not end cleanly"), std::string::npos) << noticed.err;
        EXPECT_EQ(query(cut.path("dbs/cut.db"), "SELECT count(*) FROM FRAMES"),
                  std::vector<std::string>{"2"});
        // And the report names it.
        const Outcome report =
            runReport({"--json", cut.path("dbs/cut.db"), cut.path("dbs/whole.db")});
        EXPECT_EQ(jsonQuery(report.out, "SELECT value ->> 'read_error' FROM json_each(?1, "
                                        "'$.databases') ORDER BY value ->> 'path'"),
                  (std::vector<std::string>{"truncated dump file; tried to read 82 captured "
                                            "bytes, only got 72",
                                            ""}))
            << report.out;
    }
}
