// Baseline: the floor of the analyser's database design. It reads a trace with libpcap, decodes
// each packet with the analyser's decoder and, for every packet, formats the same frames insert
// and the same per-protocol insert as the analyser with snprintf and runs each as SQL text through
// sqlite3_exec, inside one transaction with synchronous writes off (from the first create on),
// with SQLite set up as the analyser sets it up (one thread, no memory statistics, the engine's
// allocator); in mode 1 it then sends the same end-of-run statements. The database it writes is
// the analyser's, row for row, but it has no options, no output, no spinner, no filter and no
// engine classes: what the analyser takes beyond this is its own overhead.
//
// Usage: bare_sql_loop <mode 1|2> <trace.pcap> <new database>
#include <pcap/pcap.h>
#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>

#include "bare_loop.h"
#include "capture/decode.h"

namespace {

using namespace tidewrack;

sqlite3* db;
char sql[2048];

__attribute__((format(printf, 1, 2))) void execFormatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(sql, sizeof sql, format, args);
    va_end(args);
    bareloop::exec(db, sql);
}

}  // namespace

int main(int argc, char** argv) {
    const bareloop::Run run = bareloop::start(argc, argv);
    db = run.db;
    const int mode = run.mode;

    // The program's own decoder: the baseline differs from the program in what it does with
    // the packet view, not in how the view is made.
    PacketView view;
    LocalTimeText clock;
    pcap_pkthdr* header;
    const u_char* data;
    while (pcap_next_ex(run.trace, &header, &data) == 1) {
        decodePacket(view, clock, header, data);
        if (!view.frameDecoded) {
            continue;
        }
        const std::uint8_t* src = view.sourceAddress;
        const std::uint8_t* dst = view.destinationAddress;
        execFormatted(sql::insertFrameFormat, view.packetCount, src[0], src[1], src[2], src[3],
                      view.sourcePort, dst[0], dst[1], dst[2], dst[3], view.destinationPort,
                      view.protocolName, view.tcpFlagsText, view.timeText,
                      static_cast<int>(header->ts.tv_usec), header->len);
        if (mode != 1) {
            continue;
        }
        switch (view.protocol) {
        case 1:
            execFormatted(sql::insertIcmpFormat, src[0], src[1], src[2], src[3], dst[0], dst[1],
                          dst[2], dst[3], view.icmpTypeText, view.icmpCodeText);
            break;
        case 6:
            if (isSynAck(view.tcpFlags)) {
                execFormatted(sql::insertTcpFormat, dst[0], dst[1], dst[2], dst[3],
                              view.destinationPort, src[0], src[1], src[2], src[3], view.sourcePort,
                              view.tcpService);
            }
            break;
        case 17:
            execFormatted(sql::insertUdpFormat, src[0], src[1], src[2], src[3], dst[0], dst[1],
                          dst[2], dst[3], view.destinationPort, view.udpService);
            break;
        default:
            execFormatted(sql::insertRawFormat,
                          protocolTableName(view.protocol < protocolTableSize ? view.protocol
                                                                              : unassignedProtocol),
                          src[0], src[1], src[2], src[3], dst[0], dst[1], dst[2], dst[3]);
            break;
        }
    }
    return bareloop::finish(run, view.protocolSeen, view.packetCount);
}
