// The handshake times of every conversation agree with tshark on the corpus captures with the
// most handshakes, a SYN sent again (alexa-app, syslog, tls-subjectaltname), VLAN tags (syslog)
// and nanosecond times (z3950), to the microsecond; the databases are made with tidewrack -x.
// Each time runs from the client's last SYN before the server's first SYN ACK, by tshark's
// frame times, and is tshark's tcp.analysis.ack_rtt on that SYN ACK whenever the client sent
// SYN once. When it sent SYN again, tshark mostly measures from the first sending, and only
// those SYN ACKs may differ from its ack_rtt.
//
// On the same captures, the SYNs each client sent (all of them, as tshark counts the frames of
// tcp.flags.syn == 1 && tcp.flags.ack == 0 from it to its server, in every TCP stream of the
// pair of ends) and the connect time, from the client's first SYN to the first SYN ACK, agree
// with tshark's frames; tshark's ack_rtt on a SYN ACK whose SYN was sent again is mostly that
// connect time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "corpus.h"
#include "report_test_kit.h"

using namespace testkit;
using namespace reportkit;

TEST(ReportHandshakeTimes, AgreeWithTsharksAckRttOnTheCorpus) {
    SKIP_WITHOUT_CORPUS();
    if (std::system("tshark --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed (apt-get install tshark)";
    }
    std::size_t compared = 0, captures = 0, sentAgain = 0, fromTheFirst = 0, synCounts = 0,
                connects = 0, retried = 0, connectIsAckRtt = 0;
    for (const char* name :
         {"alexa-app.pcapng", "many-protocols.pcap",
          "suricata-verify_output-eve-ftp-data_input.pcap",
          "suricata-verify_tls-subjectaltname_input.pcap", "example.pcap", "methods.pcap",
          "netflix.pcap", "starcraft_battle.pcap", "suricata-verify_base64-decode-5885_input.pcap",
          "suricata-verify_smb2-ntlmssp-negotiateflags_input.pcap", "mapi.pcap", "test.pcap",
          "synscan.pcap", "syslog.pcap", "z3950.pcapng"}) {
        const std::string path = corpusFile(name);
        if (path.empty()) {
            continue;
        }
        ScratchDir dir;
        makeExtendedDatabase(path, dir.path("capture.db"));
        const Outcome run = runReport({"--json", "--top", "0", dir.path("capture.db")});
        ASSERT_EQ(run.status, 0) << run.err;
        const Handshakes ours = reportHandshakes(run.out);
        const TsharkHandshakes theirs = tsharkHandshakes(path);
        EXPECT_EQ(ours, theirs.fromLastSyn) << name;
        for (const auto& [ends, time] : theirs.ackRtt) {
            if (theirs.sentAgain.count(ends) == 0) {
                EXPECT_EQ(theirs.fromLastSyn.at(ends), time) << name << ": " << ends;
            } else {
                fromTheFirst += theirs.fromLastSyn.at(ends) != time;
                connectIsAckRtt += theirs.connect.count(ends) && theirs.connect.at(ends) == time;
            }
        }
        const auto syns = reportSyns(run.out);
        const Handshakes connect = reportHandshakes(run.out, "connect");
        EXPECT_EQ(syns, theirs.syns) << name;
        EXPECT_EQ(connect, theirs.connect) << name;
        for (const auto& [ends, count] : syns) {
            retried += count > 1;
        }
        synCounts += syns.size();
        connects += connect.size();
        compared += ours.size();
        sentAgain += theirs.sentAgain.size();
        ++captures;
    }
    EXPECT_GT(sentAgain, 0u);
    std::printf("%zu handshake times of %zu captures compared; %zu with a SYN sent again, %zu of "
                "them measured by tshark from its first sending (%zu its connect time)\n"
                "%zu clients' SYN counts (%zu above one) and %zu connect times compared\n",
                compared, captures, sentAgain, fromTheFirst, connectIsAckRtt, synCounts, retried,
                connects);
}
