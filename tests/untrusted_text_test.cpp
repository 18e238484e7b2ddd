// Text from the user (paths, the filter expression, adapter names) is only ever data: paths and
// a filter full of quotes and percent signs are used and shown exactly as given, never taken as
// a format or as SQL.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "database.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace tracekit;
using Rows = std::vector<std::string>;
namespace fs = std::filesystem;

TEST(UntrustedText, PathsFiltersAndAdapterNamesAreOnlyData) {
    ScratchDir scratch;
    const std::string dir = scratch.path("it's \"100%\" %n%s");
    fs::create_directory(dir);
    const std::string trace = dir + "/in 50%d'.pcap", db = dir + "/it's 100%s %n.db",
                      dump = dir + "/out %x'%n\".pcap";
    writeTrace(trace, {{ipv4Frame(17, {10, 0, 0, 1}, {10, 0, 0, 2}, udpHeader(1024, 53))},
                       {ipv4Frame(6, {10, 0, 0, 2}, {10, 0, 0, 1}, tcpHeader(80, 1024, 0x12))}});

    Outcome run = runProgram({"-r", trace, "-w", dump, "-d", db});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\nlistening on " + trace + "...\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "SQL error: no such table: ICMP\n");
    EXPECT_EQ(query(db, "SELECT count(*) FROM FRAMES"), Rows{"2"});
    EXPECT_EQ(readTrace(dump).size(), 2u);
    // Each file under its name exactly as given, and nothing under a name made from it.
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        files.insert(entry.path().string());
    }
    EXPECT_EQ(files, (std::set<std::string>{trace, db, dump}));

    run = runProgram({"-r", trace, "-d", db});
    EXPECT_EQ(run.out,
              "SQLiteEngine: database " + db + " already holds tables; give a new file.\n");
    EXPECT_EQ(run.status, 1);

    // A filter that is no filter: reported, then every packet is read unfiltered.
    run = runProgram({"-v", "-r", trace, "-f", "host '%s%n' or \"%x\" %%"});
    EXPECT_NE(run.out.find("\nError: Unable to compile the packet filter. Check the syntax.\n"
                           "\nlistening on " +
                           trace + "...\n1: "),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\n2 packets analysed in: "), std::string::npos);

    // Unknown adapter and missing trace names are echoed as given.
    const std::string adapter = "%n%s'\"%x";
    run = runProgram(
        {"-i", adapter, "-r", dir + "/%n missing'.pcap", "-f", "udp port 9 and udp port 7"});
    EXPECT_EQ(run.out.rfind("\nUnable to open adapter " + adapter + ". \n\nUnable to open " + dir +
                                "/%n missing'.pcap.(",
                            0),
              0u)
        << run.out;
    EXPECT_LE(run.status, 1);
}
