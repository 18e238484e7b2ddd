// Baseline: the ceiling of any SQLite design for the analyser's database. It writes the same
// database as the analyser, row for row, the fastest way SQLite offers: SQLite set up as the
// analyser sets it up (one thread, no memory statistics, the engine's allocator), one
// transaction with synchronous writes off, and every row
// written by a statement prepared once, with its values bound, stepped and reset. Packets are
// decoded by the analyser's decoder; the create and end-of-run statements are the analyser's
// texts, run once each. Against bare_sql_loop, which sends each row as SQL text, it shows what
// parsing and planning a statement per row costs: the price of the analyser's SQL text design.
//
// Usage: bare_prepared_loop <mode 1|2> <trace.pcap> <new database>
#include <pcap/pcap.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "bare_loop.h"
#include "capture/decode.h"

namespace {

using namespace tidewrack;

sqlite3* db;

sqlite3_stmt* prepare(const char* text) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db, text, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK) {
        std::fprintf(stderr, "cannot prepare %s: %s\n", text, sqlite3_errmsg(db));
        std::exit(1);
    }
    return statement;
}

// Binds the values in column order from the first parameter on.
void bindInts(sqlite3_stmt* statement, int first, std::initializer_list<int> values) {
    for (int value : values) {
        sqlite3_bind_int(statement, first++, value);
    }
}

void bindText(sqlite3_stmt* statement, int column, const char* text) {
    sqlite3_bind_text(statement, column, text, -1, SQLITE_STATIC);
}

void step(sqlite3_stmt* statement) {
    if (sqlite3_step(statement) != SQLITE_DONE) {
        std::fprintf(stderr, "SQL error: %s\n", sqlite3_errmsg(db));
    }
    sqlite3_reset(statement);
}

// The time column's text, "hh:mm:ss.uuuuuu", as the analyser's '%s.%.6d' gives it.
void timeWithMicroseconds(char* out, std::size_t size, const char* time, long microseconds) {
    const std::size_t length = std::strlen(time);
    if (microseconds < 0 || microseconds > 999999 || length + 8 > size) {
        std::snprintf(out, size, "%s.%.6d", time, static_cast<int>(microseconds));
        return;
    }
    std::memcpy(out, time, length);
    out[length] = '.';
    for (int digit = 6; digit >= 1; --digit, microseconds /= 10) {
        out[length + digit] = static_cast<char>('0' + microseconds % 10);
    }
    out[length + 7] = '\0';
}

}  // namespace

int main(int argc, char** argv) {
    const bareloop::Run run = bareloop::start(argc, argv);
    db = run.db;
    const int mode = run.mode;

    sqlite3_stmt* frames = prepare("INSERT INTO frames VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                   "?, ?, ?)");
    sqlite3_stmt* icmp = nullptr;
    sqlite3_stmt* tcp = nullptr;
    sqlite3_stmt* udp = nullptr;
    sqlite3_stmt* raw[protocolTableSize] = {};  // prepared when the protocol is first met
    if (mode == 1) {
        icmp = prepare("INSERT INTO ICMP_raw VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        tcp = prepare("INSERT INTO TCP_raw VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        udp = prepare("INSERT INTO UDP_raw VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    }

    PacketView view;
    LocalTimeText clock;
    pcap_pkthdr* header;
    const u_char* data;
    char time[timeTextSize + 16];
    while (pcap_next_ex(run.trace, &header, &data) == 1) {
        decodePacket(view, clock, header, data);
        if (!view.frameDecoded) {
            continue;
        }
        const std::uint8_t* s = view.sourceAddress;
        const std::uint8_t* d = view.destinationAddress;
        bindInts(frames, 1,
                 {view.packetCount, s[0], s[1], s[2], s[3], view.sourcePort, d[0], d[1], d[2], d[3],
                  view.destinationPort});
        bindText(frames, 12, view.protocolName);
        bindText(frames, 13, view.tcpFlagsText);
        timeWithMicroseconds(time, sizeof time, view.timeText, header->ts.tv_usec);
        bindText(frames, 14, time);
        sqlite3_bind_int64(frames, 15, header->len);
        step(frames);
        if (mode != 1) {
            continue;
        }
        switch (view.protocol) {
        case 1:
            bindInts(icmp, 1, {s[0], s[1], s[2], s[3], d[0], d[1], d[2], d[3]});
            bindText(icmp, 9, view.icmpTypeText);
            bindText(icmp, 10, view.icmpCodeText);
            step(icmp);
            break;
        case 6:
            if (isSynAck(view.tcpFlags)) {
                bindInts(tcp, 1,
                         {d[0], d[1], d[2], d[3], view.destinationPort, s[0], s[1], s[2], s[3],
                          view.sourcePort});
                bindText(tcp, 11, view.tcpService);
                step(tcp);
            }
            break;
        case 17:
            bindInts(udp, 1,
                     {s[0], s[1], s[2], s[3], d[0], d[1], d[2], d[3], view.destinationPort});
            bindText(udp, 10, view.udpService);
            step(udp);
            break;
        default: {
            const int n = view.protocol < protocolTableSize ? view.protocol : unassignedProtocol;
            if (raw[n] == nullptr) {
                char text[256];
                std::snprintf(text, sizeof text,
                              "INSERT INTO \"%s_raw\" VALUES(?, ?, ?, ?, ?, ?, ?, ?)",
                              protocolTableName(n));
                raw[n] = prepare(text);
            }
            bindInts(raw[n], 1, {s[0], s[1], s[2], s[3], d[0], d[1], d[2], d[3]});
            step(raw[n]);
            break;
        }
        }
    }
    for (sqlite3_stmt* statement : {frames, icmp, tcp, udp}) {
        sqlite3_finalize(statement);
    }
    for (sqlite3_stmt* statement : raw) {
        sqlite3_finalize(statement);
    }
    return bareloop::finish(run, view.protocolSeen, view.packetCount);
}
