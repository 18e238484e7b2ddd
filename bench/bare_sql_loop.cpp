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
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "capture/decode.h"
#include "db/SQLiteEngine.h"
#include "db/traffic_schema.h"

namespace {

using namespace tidewrack;

sqlite3* db;
char sql[2048];

void exec(const char* text) {
    char* error = nullptr;
    if (sqlite3_exec(db, text, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "SQL error: %s\n", error);
        sqlite3_free(error);
    }
}

__attribute__((format(printf, 1, 2))) void execFormatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(sql, sizeof sql, format, args);
    va_end(args);
    exec(sql);
}

void createTables(int mode) {
    if (mode == 2) {
        exec(sql::createFramesOnly);
        return;
    }
    exec(sql::createFrames);
    exec(sql::createProtocols);
    for (int n = 0; n < protocolTableSize; ++n) {
        switch (n) {
        case 0: exec(sql::createHopopt); break;
        case 1: exec(sql::createIcmp); break;
        case 6: exec(sql::createTcp); break;
        case 17: exec(sql::createUdp); break;
        default: execFormatted(sql::createRawFormat, protocolTableName(n)); break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int mode = argc == 4 ? std::atoi(argv[1]) : 0;
    if (mode != 1 && mode != 2) {
        std::fprintf(stderr, "usage: %s <mode 1|2> <trace.pcap> <new database>\n", argv[0]);
        return 2;
    }
    tidewrack::SQLiteEngine::configureLibrary();  // SQLite set up as the program sets it up
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* trace = pcap_open_offline(argv[2], error);
    if (trace == nullptr || sqlite3_open(argv[3], &db) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s or %s\n", argv[2], argv[3]);
        return 1;
    }
    exec(sql::noSync);
    createTables(mode);
    exec(sql::noSync);
    exec(sql::begin);

    // The program's own decoder: the baseline differs from the program in what it does with
    // the packet view, not in how the view is made.
    PacketView view;
    LocalTimeText clock;
    pcap_pkthdr* header;
    const u_char* data;
    while (pcap_next_ex(trace, &header, &data) == 1) {
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
    pcap_close(trace);

    if (mode == 1) {
        for (int n = 0; n < protocolTableSize; ++n) {
            execFormatted(view.protocolSeen[n] ? sql::insertProtocolFormat : sql::dropRawFormat,
                          protocolTableName(n));
        }
        for (int n = 0; n < protocolTableSize; ++n) {
            if (view.protocolSeen[n]) {
                execFormatted(sql::createFlowFormat, protocolTableName(n), protocolTableName(n));
            }
        }
        for (const char* statement : sql::serviceStatements) {
            exec(statement);
        }
    }
    exec(sql::commit);
    sqlite3_close(db);
    std::printf("%d packets\n", view.packetCount);
    return 0;
}
