// Baseline: the floor of the analyser's database design. It reads a trace with libpcap and, for
// every packet, formats the same frames insert and the same per-protocol insert as the analyser
// with snprintf and runs each as SQL text through sqlite3_exec, inside one transaction with
// synchronous writes off; in mode 1 it then sends the same end-of-run statements. The database
// it writes is the analyser's, row for row, but it has no options, no output, no spinner, no
// filter and no engine classes: what the analyser takes beyond this is its own overhead.
//
// Usage: bare_sql_loop <mode 1|2> <trace.pcap> <new database>
#include <pcap/pcap.h>
#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "capture/icmp_texts.h"
#include "capture/protocol_names.h"
#include "capture/service_tables.h"
#include "capture/tcp_flags.h"
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

template <std::size_t N>
void copyText(char (&buffer)[N], std::string_view text) {
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
}

}  // namespace

int main(int argc, char** argv) {
    const int mode = argc == 4 ? std::atoi(argv[1]) : 0;
    if (mode != 1 && mode != 2) {
        std::fprintf(stderr, "usage: %s <mode 1|2> <trace.pcap> <new database>\n", argv[0]);
        return 2;
    }
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* trace = pcap_open_offline(argv[2], error);
    if (trace == nullptr || sqlite3_open(argv[3], &db) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s or %s\n", argv[2], argv[3]);
        return 1;
    }
    createTables(mode);
    exec(sql::noSync);
    exec(sql::begin);

    bool seen[protocolTableSize] = {};
    char timeText[16] = {}, icmpType[icmpTypeTextSize], icmpCode[icmpCodeTextSize];
    std::time_t lastSecond = -1;
    std::tm local{};
    pcap_pkthdr* header;
    const u_char* data;
    int frame = 0;
    while (pcap_next_ex(trace, &header, &data) == 1) {
        ++frame;
        if (header->ts.tv_sec != lastSecond) {
            lastSecond = header->ts.tv_sec;
            if (localtime_r(&lastSecond, &local) == nullptr ||
                std::strftime(timeText, sizeof timeText, "%H:%M:%S", &local) == 0) {
                std::strcpy(timeText, "--:--:--");
            }
        }
        const std::uint32_t length = header->caplen;
        if (length < 34) {
            continue;
        }
        const u_char* ip = data + 14;
        const std::uint32_t t = 14 + (ip[0] & 0x0Fu) * 4;
        const auto word = [&](std::uint32_t at) {
            return at + 2 <= length ? data[at] << 8 | data[at + 1] : 0;
        };
        const int sourcePort = word(t), destinationPort = word(t + 2);
        const std::uint8_t protocol = ip[9];
        if (protocol < protocolTableSize) {
            seen[protocol] = true;
        }
        const std::uint8_t flags = protocol == 6 && t + 14 <= length ? data[t + 13] : 0;
        icmpType[0] = icmpCode[0] = '\0';
        if (protocol == 1 && t + 2 <= length) {
            const IcmpTexts texts = icmpTexts(data[t], data[t + 1]);
            copyText(icmpType, texts.type);
            copyText(icmpCode, texts.code);
        }
        execFormatted(sql::insertFrameFormat, frame, ip[12], ip[13], ip[14], ip[15], sourcePort,
                      ip[16], ip[17], ip[18], ip[19], destinationPort,
                      decoderProtocolName(protocol), protocol == 6 ? TcpFlagsTexts[flags].text : "",
                      timeText, static_cast<int>(header->ts.tv_usec), header->len);
        if (mode != 1) {
            continue;
        }
        switch (protocol) {
        case 1:
            execFormatted(sql::insertIcmpFormat, ip[12], ip[13], ip[14], ip[15], ip[16], ip[17],
                          ip[18], ip[19], icmpType, icmpCode);
            break;
        case 6:
            if (isSynAck(flags)) {
                execFormatted(sql::insertTcpFormat, ip[16], ip[17], ip[18], ip[19], destinationPort,
                              ip[12], ip[13], ip[14], ip[15], sourcePort,
                              tcpServiceName(static_cast<std::uint16_t>(sourcePort)));
            }
            break;
        case 17:
            execFormatted(sql::insertUdpFormat, ip[12], ip[13], ip[14], ip[15], ip[16], ip[17],
                          ip[18], ip[19], destinationPort,
                          udpServiceName(static_cast<std::uint16_t>(destinationPort)));
            break;
        default:
            execFormatted(
                sql::insertRawFormat,
                protocolTableName(protocol < protocolTableSize ? protocol : unassignedProtocol),
                ip[12], ip[13], ip[14], ip[15], ip[16], ip[17], ip[18], ip[19]);
            break;
        }
    }
    pcap_close(trace);

    if (mode == 1) {
        for (int n = 0; n < protocolTableSize; ++n) {
            execFormatted(seen[n] ? sql::insertProtocolFormat : sql::dropRawFormat,
                          protocolTableName(n));
        }
        for (int n = 0; n < protocolTableSize; ++n) {
            if (seen[n]) {
                execFormatted(sql::createFlowFormat, protocolTableName(n), protocolTableName(n));
            }
        }
        for (const char* statement : sql::serviceStatements) {
            exec(statement);
        }
    }
    exec(sql::commit);
    sqlite3_close(db);
    std::printf("%d packets\n", frame);
    return 0;
}
