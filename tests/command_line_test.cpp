// The command line, the run sequence and the capture sources, seen from outside: the built
// program run as a subprocess, its exact output and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "database.h"
#include "file_bytes.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace tracekit;

namespace {

const std::regex banner("\nTIDEWRACK TRAFFIC ANALYSER\nVersion:  0\\.5\\.7\n"
                        "Compiled: [A-Z][a-z]{2} [ 123][0-9] [0-9]{4}\n\n");

std::string threeUdpPackets(const ScratchDir& dir) {
    std::vector<Record> records;
    for (int i = 0; i < 3; ++i) {
        records.push_back({ipv4Frame(17, {10, 0, 0, 1}, {10, 0, 0, 2}, udpHeader(1024, 53))});
    }
    const std::string path = dir.path("three.pcap");
    writeTrace(path, records);
    return path;
}

}  // namespace

TEST(CommandLine, BannerAndUsage) {
    const Outcome version = runProgram({"-V"});
    EXPECT_TRUE(std::regex_match(version.out, banner)) << version.out;
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(runProgram({"-V", "-h"}).out, version.out);  // version comes first

    // The usage text itself is a golden output.
    const Outcome help = runProgram({"--help"});
    EXPECT_EQ(help.out.rfind(version.out + "\n Usage: " TIDEWRACK_BINARY " [options]\n\n", 0), 0u);
    EXPECT_EQ(runProgram({"-h", "-l"}).out, help.out);  // help wins over the list
}

TEST(CommandLine, StepsThatEndTheRunWithStatusOne) {
    ScratchDir dir;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-i", "x", "-I", "2"}, "Conflicting flags detected: -i, -I"},
        {{"--interface=x", "--ifnum", "1", "-V"}, "Conflicting flags detected: -i, -I"},
        {{"-F", "filter.txt"}, "\nFeature not yet implemented.\n"},
        {{"-f", "tcp", "--filter-file", "f"}, "\nFeature not yet implemented.\n"},
        {{"-w", dir.path("out.pcap")}, "\nError opening dump file.\n"},
    };
    for (const auto& [args, expected] : cases) {
        const Outcome run = runProgram(args);
        EXPECT_EQ(run.out, expected) << args[0];
        EXPECT_EQ(run.status, 1) << args[0];
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path("out.pcap")));
}

TEST(CommandLine, UnknownOptionsAreReportedByTheParserAndIgnored) {
    const Outcome run = runProgram({"--bogus", "-z", "stray", "-V", "-c"});
    EXPECT_TRUE(std::regex_match(run.out, banner));
    EXPECT_NE(run.err.find("unrecognized option '--bogus'"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("invalid option -- 'z'"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("option requires an argument -- 'c'"), std::string::npos) << run.err;
    EXPECT_EQ(run.status, 0);
}

TEST(CommandLine, LastRepeatWinsWithAtoiNumbers) {
    ScratchDir dir;
    const std::string trace = threeUdpPackets(dir);
    const Outcome run =
        runProgram({"-c", "1", "--count=2abc", "-r", dir.path("none"), "-r", trace});
    EXPECT_NE(run.out.find("\n2 packets analysed in: "), std::string::npos) << run.out;
}

TEST(CommandLine, ListsTheAdaptersInLibraryOrder) {
    pcap_if_t* devices = nullptr;
    char error[PCAP_ERRBUF_SIZE];
    ASSERT_EQ(pcap_findalldevs(&devices, error), 0);
    std::string expected;
    int number = 0;
    for (pcap_if_t* d = devices; d != nullptr; d = d->next) {
        expected += std::to_string(++number) + ". " + d->name + "\n(" +
                    (d->description ? d->description : "No description available") + ")\n";
    }
    pcap_freealldevs(devices);
    const Outcome run = runProgram({"--list"});
    EXPECT_EQ(run.out, number ? expected : "\nNo interfaces found!\n");
    EXPECT_EQ(run.status, number ? 0 : 1);
}

TEST(CaptureSources, LaterInputWinsAndFailedOpensAreReported) {
    ScratchDir dir;
    const std::string trace = threeUdpPackets(dir);
    const std::string report = "\b-\b\\\b|\n3 packets analysed in: ";
    Outcome run = runProgram({"-i", "nosuchdev0", "-r", trace});
    EXPECT_EQ(run.out.rfind("\nUnable to open adapter nosuchdev0. \n\nlistening on " + trace +
                                "...\n" + report,
                            0),
              0u)
        << run.out;
    run = runProgram({"-I", "999", "-r", trace});
    EXPECT_EQ(run.out.rfind(
                  "\nNo adapter with number 999.\n\nlistening on " + trace + "...\n" + report, 0),
              0u)
        << run.out;
    // A trace on standard input, as libpcap reads "-".
    run = runProgram({"-r", "-"}, fileBytes(trace));
    EXPECT_EQ(run.out.rfind("\nlistening on -...\n" + report, 0), 0u) << run.out;
    // A filter that does not compile is reported, and capture goes on unfiltered.
    run = runProgram({"-f", "port ((", "-r", trace});
    EXPECT_EQ(run.out.rfind("\nError: Unable to compile the packet filter. Check the syntax.\n"
                            "\nlistening on " +
                                trace + "...\n" + report,
                            0),
              0u)
        << run.out;
    EXPECT_EQ(run.status, 0);
}

TEST(CaptureSources, DumpGoesNeitherOverTheTraceBeingReadNorToTheConsole) {
    ScratchDir dir;
    const std::string trace = threeUdpPackets(dir);
    const std::string before = fileBytes(trace);
    std::filesystem::create_hard_link(trace, dir.path("alias.pcap"));
    // Standard output carries the console messages: "-" and /dev/stdout would corrupt the dump.
    for (const std::string& sameFile : {dir.path("./three.pcap"), dir.path("alias.pcap"),
                                        std::string("-"), std::string("/dev/stdout")}) {
        const Outcome run = runProgram({"-r", trace, "-w", sameFile});
        EXPECT_EQ(run.out, "\nError opening dump file.\n");
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_EQ(fileBytes(trace), before);
    // A device such as /dev/null may take both the console and the dump.
    EXPECT_EQ(waitProgram(startProgram({"-r", trace, "-w", "/dev/null"}, "/dev/null")), 0);
}

// The dump and the database in one file would destroy both: refused before either is written,
// whether the two are one name, a hard link to a database, or a symbolic link to a new one.
TEST(CaptureSources, DumpGoesNotOverTheDatabase) {
    ScratchDir dir;
    const std::string trace = threeUdpPackets(dir), db = dir.path("t.db");
    ASSERT_EQ(runProgram({"-r", trace, "-d", db}).status, 0);
    const std::string dbBefore = fileBytes(db);
    std::filesystem::create_hard_link(db, dir.path("hard.db"));
    std::filesystem::create_symlink("new.db", dir.path("link.db"));
    const std::pair<std::string, std::string> cases[] = {
        {dir.path("same.db"), dir.path("same.db")},
        {dir.path("hard.db"), db},
        {dir.path("link.db"), dir.path("new.db")},
    };
    for (const auto& [dump, database] : cases) {
        const Outcome run = runProgram({"-r", trace, "-w", dump, "-d", database});
        EXPECT_EQ(run.out, "\nError opening dump file.\n") << dump;
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_EQ(fileBytes(db), dbBefore);
    EXPECT_FALSE(std::filesystem::exists(dir.path("same.db")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("new.db")));
}

// A dump named as the database's journal, WAL or shared-memory file would be taken over by
// SQLite; one on standard error would take the SQL error lines. Refused before anything is
// created.
TEST(CaptureSources, DumpGoesNotWhereTheDatabaseOrItsErrorsGo) {
    ScratchDir dir;
    const std::string trace = threeUdpPackets(dir), db = dir.path("x.db");
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        const Outcome run = runProgram({"-r", trace, "-w", db + suffix, "-d", db});
        EXPECT_EQ(run.out, "\nError opening dump file.\n") << suffix;
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(std::filesystem::exists(db + suffix));
        EXPECT_FALSE(std::filesystem::exists(db));
    }
    const int err = open(dir.path("x.pcap").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const int out = open(dir.path("out.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_EQ(waitProgram(spawnProgram({"-r", trace, "-d", db, "-w", "/dev/stderr"}, -1, out, err)),
              1);
    close(err);
    close(out);
    EXPECT_EQ(fileBytes(dir.path("out.txt")), "\nError opening dump file.\n");
    EXPECT_EQ(fileBytes(dir.path("x.pcap")), "");
}

// Two names of one directory (a bind mount) reach one file: the dump and the database are
// compared by what the names lead to, not by how they are spelled. Needs root to mount.
TEST(CaptureSources, DumpGoesNotOverTheDatabaseThroughABindMount) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "a bind mount needs root";
    }
    ScratchDir dir;
    const std::string trace = threeUdpPackets(dir);
    std::filesystem::create_directories(dir.path("a"));
    std::filesystem::create_directories(dir.path("b"));
    ASSERT_EQ(mount(dir.path("a").c_str(), dir.path("b").c_str(), nullptr, MS_BIND, nullptr), 0);
    const Outcome run =
        runProgram({"-r", trace, "-w", dir.path("a/x.db"), "-d", dir.path("b/x.db")});
    umount(dir.path("b").c_str());
    EXPECT_EQ(run.out, "\nError opening dump file.\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.path("a/x.db")));
}
