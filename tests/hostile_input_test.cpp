// Broken and unusual trace files, run through the built program: cut records, files libpcap
// cannot open, impossible captured lengths, IPv4 header lengths below the minimum, traces of
// other link types, pcapng and nanosecond traces, and the regression traces the fuzzer found.
// The program must never crash, must say what went wrong, and must keep what it read.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "database.h"
#include "file_bytes.h"
#include "independent_decode.h"
#include "live_adapters.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "tracekit/frames.h"
#include "tracekit/pcapng_writer.h"

using namespace testkit;
using namespace tracekit;
using Rows = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const Address client{192, 168, 1, 10}, server{10, 0, 0, 1};

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string libpcapOpenError(const std::string& path) {
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* in = pcap_open_offline(path.c_str(), error);
    if (in != nullptr) {
        pcap_close(in);
    }
    return error;
}

class HostileInput : public ::testing::Test {
  protected:
    Rows rows(const std::string& sql) { return query(db, sql); }
    ScratchDir dir;
    const std::string trace = dir.path("in.pcap"), db = dir.path("traffic.db");
};

}  // namespace

// A trace that breaks off, or whose record claims more bytes than libpcap accepts: the records
// before the break are analysed and committed, the read error is reported, and the run ends
// normally with its report.
TEST_F(HostileInput, BrokenRecordsEndTheReadButKeepWhatWasRead) {
    writeTrace(trace, udpRecords(5));
    const std::string whole = fileBytes(trace);
    const std::size_t frame = udpRecords(1)[0].frame.size(), record = 16 + frame;
    std::string oversized = whole.substr(0, 24 + 3 * record);
    oversized += whole.substr(24, 8);
    putLittle(oversized, 300000, 4);  // captured length beyond libpcap's limit
    putLittle(oversized, 300000, 4);
    oversized += std::string(1000, 'x');
    const struct {
        const char* name;
        std::string bytes;
        std::string error;
    } cases[] = {
        {"record header cut", whole.substr(0, 24 + 3 * record + 7),
         "truncated dump file; tried to read 16 header bytes, only got 7"},
        {"record body cut", whole.substr(0, 24 + 3 * record + 16 + 20),
         "truncated dump file; tried to read " + std::to_string(frame) +
             " captured bytes, only got 20"},
        {"oversized record", oversized, "invalid packet capture length 300000, bigger than"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(db);
        writeBytes(trace, c.bytes);
        const Outcome run = runProgram({"-r", trace, "-d", db});
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("\b|PcapEngine: error reading packets: " + c.error),
                  std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("\n3 packets analysed in: "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\ntotal traffic analysis took: "), std::string::npos);
        EXPECT_EQ(run.err, "SQL error: no such table: ICMP\nSQL error: no such table: TCP\n");
        EXPECT_EQ(rows("SELECT count(*), sum(len) FROM FRAMES"),
                  Rows{"3|" + std::to_string(3 * frame)});
        EXPECT_EQ(rows("SELECT * FROM UDP"), Rows{"192|168|1|10|10|0|0|1|53|DNS"});

        // The extended record keeps the frames too, and fails the run where a script sees it:
        // the status, standard error and the database all say how the input ended. Standard
        // output, not a terminal here, gets no spinner, and no statement known to fail is sent.
        fs::remove(db);
        const Outcome x = runProgram({"-x", "-r", trace, "-d", db});
        EXPECT_EQ(x.status, 1);
        EXPECT_EQ(x.err.rfind("PcapEngine: error reading packets: " + c.error, 0), 0u) << x.err;
        EXPECT_EQ(x.err.find("SQL error"), std::string::npos) << x.err;
        EXPECT_EQ(x.out.find('\b'), std::string::npos);
        EXPECT_EQ(rows("SELECT count(*) FROM FRAMES"), Rows{"3"});
        const Rows recorded = rows("SELECT read_error FROM CAPTURE");
        ASSERT_EQ(recorded.size(), 1u);
        EXPECT_EQ(recorded[0].rfind(c.error, 0), 0u) << recorded[0];
        EXPECT_EQ("PcapEngine: error reading packets: " + recorded[0] + "\n", x.err);
    }
    // An input that ends cleanly records no error.
    writeTrace(trace, udpRecords(2));
    fs::remove(db);
    EXPECT_EQ(runProgram({"-x", "-r", trace, "-d", db}).status, 0);
    EXPECT_EQ(rows("SELECT read_error IS NULL FROM CAPTURE"), Rows{"1"});
}

// Files libpcap cannot open as a trace are reported with libpcap's reason; the run then falls
// back to the first adapter, as for a missing file.
TEST_F(HostileInput, UnreadableFilesAreReportedWithLibpcapsReason) {
    std::mt19937 random(20240607);
    std::string noise(4096, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    noise[0] = 'N';  // no magic number by chance
    writeTrace(dir.path("ok.pcap"), udpRecords(1));
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"noise", noise},
        {"file header cut", fileBytes(dir.path("ok.pcap")).substr(0, 10)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const std::string path = dir.path(name);
        writeBytes(path, bytes);
        const std::string reason = libpcapOpenError(path);
        ASSERT_FALSE(reason.empty());
        const Outcome run = runProgram({"-r", path, "-f", silentFilter});
        EXPECT_EQ(run.out.rfind("\nUnable to open " + path + ".(" + reason + ")\n" +
                                    "\nNo adapter specified - defaulting to ",
                                0),
                  0u)
            << run.out;
        // With the extended record, a mistyped trace never turns into a live capture: the run
        // ends there, and creates neither the database nor the dump.
        const Outcome x =
            runProgram({"-x", "-r", path, "-d", db, "-w", dir.path("copy.pcap"), "-f", "udp"});
        EXPECT_EQ(x.status, 1);
        EXPECT_EQ(x.out, "\nUnable to open " + path + ".(" + reason + ")\n");
        EXPECT_EQ(x.err, "tidewrack: unable to open " + path + " (" + reason + ")\n");
        EXPECT_FALSE(fs::exists(db));
        EXPECT_FALSE(fs::exists(dir.path("copy.pcap")));
    }
}

// Records whose lengths are impossible on a real wire: nothing is read past the captured
// bytes, and the wire length is recorded as the trace states it. An empty filter lets even the
// record with nothing captured through, which "ip" would reject.
TEST_F(HostileInput, ImpossibleCapturedLengths) {
    const Bytes frame = ipv4Frame(6, server, client, tcpHeader(80, 40000, 0x12));
    writeTrace(trace, {
                          {frame, 1700000000, 1, 0, 0},        // nothing captured
                          {frame, 1700000000, 2, 20, 54},      // more captured than on the wire
                          {frame, 1700000000, 3, 1, 40},       // wire length 1, no flags
                          {frame, 1700000000, 4, 100000, 54},  // jumbo on the wire
                      });
    const Outcome run = runProgram({"-v", "-f", "", "-r", trace, "-d", db});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("1: 22:13:20.000001 truncated frame (0 bytes)\n"
                           "2: 22:13:20.000002 TCP 10.0.0.1:80  ->  192.168.1.10:40000\n"
                           "3: 22:13:20.000003 TCP 10.0.0.1:80  ->  192.168.1.10:40000\n"
                           "4: 22:13:20.000004 TCP 10.0.0.1:80  ->  192.168.1.10:40000\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(rows("SELECT frame, sPort, dPort, flags, len FROM FRAMES"),
              (Rows{"2|80|40000|SYN ACK |20", "3|80|40000||1", "4|80|40000|SYN ACK |100000"}));
    EXPECT_EQ(rows("SELECT count(*) FROM TCP_raw"), Rows{"2"});
}

// IPv4 header lengths below the 5-word minimum put the "transport header" inside the IPv4
// header; 15 words on a short frame put it past the captured bytes.
TEST_F(HostileInput, HeaderLengthsOutsideTheValidRange) {
    std::vector<Record> records;
    for (std::uint8_t words : {0, 1, 2, 3, 4, 15}) {
        Bytes frame = ipv4Frame(17, client, server, udpHeader(1000, 2000));
        frame[14] = static_cast<std::uint8_t>(0x40 | words);
        records.push_back({frame});
    }
    writeTrace(trace, records);
    const Outcome run = runProgram({"-v", "-r", trace, "-d", db});
    EXPECT_EQ(run.status, 0);
    // Ports are the two words at 14 + 4 * words: total length, identification, TTL and
    // protocol, the addresses, or nothing.
    EXPECT_EQ(
        programLines(run.out),
        (Rows{"UDP 192.168.1.10:16384  ->  10.0.0.1:28", "UDP 192.168.1.10:0  ->  10.0.0.1:0",
              "UDP 192.168.1.10:16401  ->  10.0.0.1:0", "UDP 192.168.1.10:49320  ->  10.0.0.1:266",
              "UDP 192.168.1.10:2560  ->  10.0.0.1:1", "UDP 192.168.1.10:0  ->  10.0.0.1:0"}));
    EXPECT_EQ(rows("SELECT sPort, dPort FROM FRAMES"),
              (Rows{"16384|28", "0|0", "16401|0", "49320|266", "2560|1", "0|0"}));
    EXPECT_EQ(rows("SELECT dPort, service FROM UDP_raw"),
              (Rows{"28|EPHEMERAL", "0|EPHEMERAL", "0|EPHEMERAL", "266|EPHEMERAL", "1|EPHEMERAL",
                    "0|EPHEMERAL"}));
}

// Traces of other link types are read as if they were Ethernet: the fixed 14-byte offset
// decodes whatever bytes are there. Raw IPv4 still passes the "ip" filter; a private link type
// cannot compile it, so the run says so and reads every record unfiltered.
TEST_F(HostileInput, OtherLinkTypesAreDecodedAtTheEthernetOffsets) {
    std::vector<Record> raw;
    for (const Record& r : udpRecords(3)) {
        raw.push_back({Bytes(r.frame.begin() + 14, r.frame.end())});
    }
    raw.push_back({Bytes(10, 0x45)});
    raw.push_back({ipv4Frame(1, client, server, icmpHeader(8, 0))});
    for (int linkType : {DLT_RAW, DLT_USER0}) {
        SCOPED_TRACE(linkType);
        fs::remove(db);
        writeTrace(trace, raw, linkType);
        int decoded = 0;
        const Rows expected = independentLines(trace, decoded);
        ASSERT_GE(expected.size(), 4u);
        const Outcome run = runProgram({"-v", "-r", trace, "-d", db});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(programLines(run.out), expected);
        EXPECT_EQ(rows("SELECT count(*) FROM FRAMES"), Rows{std::to_string(decoded)});
        const bool compiles = linkType == DLT_RAW;
        EXPECT_EQ(run.out.find("Unable to compile the packet filter") == std::string::npos,
                  compiles)
            << run.out;
    }
}

// libpcap reads pcapng files and nanosecond pcap files as well: both are analysed, with the
// time shown in microseconds.
TEST_F(HostileInput, PcapngAndNanosecondTracesShowMicroseconds) {
    const std::vector<Record> records = {
        {ipv4Frame(17, client, server, udpHeader(123, 123, 48)), 1700000000, 123456789},
        {ipv4Frame(6, server, client, tcpHeader(443, 50000, 0x12)), 1700000000, 123456789}};
    writePcapng(dir.path("in.pcapng"), records);
    writeTrace(dir.path("ns.pcap"), records, DLT_EN10MB, PCAP_TSTAMP_PRECISION_NANO);
    const std::pair<std::string, std::string> cases[] = {
        {dir.path("in.pcapng"), "22:13:20.123456"},
        {dir.path("ns.pcap"), "22:13:20.123456"},
    };
    for (const auto& [path, time] : cases) {
        SCOPED_TRACE(path);
        fs::remove(db);
        const Outcome run = runProgram({"-v", "-r", path, "-d", db});
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("\n1: " + time + " UDP 192.168.1.10:123  ->  10.0.0.1:123\n2: " +
                               time + " TCP 10.0.0.1:443  ->  192.168.1.10:50000\n"),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(rows("SELECT time FROM FRAMES"), (Rows{time, time}));
        EXPECT_EQ(rows("SELECT * FROM TCP"), Rows{"192|168|1|10|50000|10|0|0|1|443|HTTPS"});
    }
}

// A pcap file keeps a record's seconds as an unsigned 32-bit number: records after 2038-01-19
// 03:14:07 UTC are in 2038 and 2106, not in 1901, and the dump keeps their bytes.
TEST_F(HostileInput, TimestampsBeyond2038AreNotNegative) {
    const Bytes frame = ipv4Frame(17, client, server, udpHeader(123, 123));
    writeTrace(trace, {{frame, 2147483648L, 1}, {frame, 4294967295L, 2}});
    const Outcome run = runProgram({"-v", "-r", trace, "-d", db, "-w", dir.path("out.pcap")});
    EXPECT_NE(run.out.find("\n1: 03:14:08.000001 UDP 192.168.1.10:123  ->  10.0.0.1:123\n"
                           "2: 06:28:15.000002 UDP "),
              std::string::npos)
        << run.out;
    EXPECT_EQ(rows("SELECT time FROM FRAMES"), (Rows{"03:14:08.000001", "06:28:15.000002"}));
    EXPECT_EQ(fileBytes(dir.path("out.pcap")), fileBytes(trace));
}

// Traces the fuzzer made from the hand-made seeds, each reaching a path of its own (and any
// trace it ever failed on goes here too). A verbose run into a database ends by itself with
// status 0, the packet lines of an independent reading and one frame row per decoded frame; a
// quiet run that also copies the packets ends with 0, or with 1 when libpcap cannot write a
// dump of the trace's link type. Neither leaves a sanitizer report.
TEST_F(HostileInput, FuzzerRegressionTracesRunCleanly) {
    std::vector<fs::path> traces;
    for (const auto& entry : fs::directory_iterator(TIDEWRACK_FUZZ_REGRESSIONS_DIR)) {
        traces.push_back(entry.path());
    }
    std::sort(traces.begin(), traces.end());
    ASSERT_FALSE(traces.empty());
    for (const fs::path& path : traces) {
        SCOPED_TRACE(path.filename().string());
        // A trace libpcap cannot open would send the run to a live adapter instead.
        ASSERT_EQ(libpcapOpenError(path.string()), "");
        int decoded = 0;
        const Rows expected = independentLines(path.string(), decoded);
        fs::remove(db);
        Outcome run = runProgram({"-v", "-r", path.string(), "-d", db});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(programLines(run.out), expected);
        EXPECT_EQ(rows("SELECT count(*) FROM FRAMES"), Rows{std::to_string(decoded)});
        const std::string verboseErr = run.err;

        fs::remove(db);
        run = runProgram({"-r", path.string(), "-d", db, "-w", dir.path("out.pcap")});
        EXPECT_TRUE(run.status == 0 || run.out == "\nError opening dump file.\n") << run.out;
        for (const std::string& err : {verboseErr, run.err}) {
            EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
            EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
        }
    }
}
