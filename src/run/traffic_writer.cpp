// The traffic database's statements: opening and creating the tables, the rows of each packet,
// and the tables derived after the loop. Writes are not synced to the disk, from the first
// create statement on: a killed run still leaves a whole database, only a crash of the machine
// may not.
#include "run/traffic_writer.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "db/traffic_schema.h"
#include "files/file_identity.h"
#include "run/statement_format.h"

namespace tidewrack {

void TrafficWriter::exec(const char* sql) {
    if (db.SQLite_exec(sql) != 0) {
        statementFailed = true;
    }
}

void TrafficWriter::execFormatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = formatStatement(sqlBuffer, sizeof sqlBuffer, format, args);
    va_end(args);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof sqlBuffer) {
        statementFailed = true;  // a cut statement is never sent
        return;
    }
    exec(sqlBuffer);
}

void TrafficWriter::execAllocated(char* sql) {
    if (sql == nullptr) {
        statementFailed = true;
        return;
    }
    exec(sql);
    sqlite3_free(sql);
}

int TrafficWriter::open(const char* path, bool flowsOnlyAllowed) {
    // The console text would go into the database, and SQLite's pages into the console.
    for (const auto& [stream, name] :
         {std::pair{stdout, "standard output"}, std::pair{stderr, "standard error"}}) {
        if (isOpenAt(stream, path, true)) {
            std::printf("SQLiteEngine: Can't open database: %s goes to %s\n", name, path);
            return 1;
        }
    }
    if (db.SQLite_open(path) != 0) {
        return 1;
    }
    if (mode != 1 && mode != 2 && !(flowsOnlyAllowed && mode == flowsOnlyMode)) {
        std::printf("mode: %d - unknown mode!\n", mode);
        std::exit(1);
    }
    if (db.SQLite_checkEmpty(path) != 0) {
        return 1;
    }
    // Each create statement still commits on its own, so a run stopped at any point leaves the
    // tables created so far, but without waiting for the disk twice per statement.
    exec(sql::noSync);
    if (mode == flowsOnlyMode) {
        return 0;
    }
    if (mode == 2) {
        exec(sql::createFramesOnly);
        return 0;
    }
    exec(sql::createFrames);
    exec(sql::createProtocols);
    for (int n = 0; n < protocolTableSize; ++n) {
        switch (n) {
        case 0: exec(sql::createHopopt); break;
        case 1: exec(sql::createIcmp); break;
        case 6: exec(sql::createTcp); break;
        case 17: exec(sql::createUdp); break;
        default: execFormatted(sql::createRawFormat, protocolNames[n]); break;
        }
    }
    return 0;
}

void TrafficWriter::beginTransaction() {
    exec(sql::noSync);
    exec(sql::begin);
}

void TrafficWriter::commitTransaction() {
    exec(sql::commit);
}

void TrafficWriter::writePacketRows(const PacketView& p) {
    if (p.ipv6 || mode == flowsOnlyMode) {
        return;  // the classic tables are IPv4's, and mode 3 has none
    }
    const std::uint8_t* s = p.sourceAddress;
    const std::uint8_t* d = p.destinationAddress;
    execFormatted(sql::insertFrameFormat, p.packetCount, s[0], s[1], s[2], s[3], p.sourcePort, d[0],
                  d[1], d[2], d[3], p.destinationPort, p.protocolName, p.tcpFlagsText, p.timeText,
                  static_cast<int>(p.header->ts.tv_usec), p.header->len);
    if (mode != 1) {
        return;
    }
    switch (p.protocol) {
    case 1:
        execFormatted(sql::insertIcmpFormat, s[0], s[1], s[2], s[3], d[0], d[1], d[2], d[3],
                      p.icmpTypeText, p.icmpCodeText);
        break;
    case 6:
        // The answer of the responding side, turned around: initiator first.
        if (isSynAck(p.tcpFlags)) {
            execFormatted(sql::insertTcpFormat, d[0], d[1], d[2], d[3], p.destinationPort, s[0],
                          s[1], s[2], s[3], p.sourcePort, p.tcpService);
        }
        break;
    case 17:
        execFormatted(sql::insertUdpFormat, s[0], s[1], s[2], s[3], d[0], d[1], d[2], d[3],
                      p.destinationPort, p.udpService);
        break;
    default:
        execFormatted(
            sql::insertRawFormat,
            protocolNames[p.protocol < protocolTableSize ? p.protocol : unassignedProtocol], s[0],
            s[1], s[2], s[3], d[0], d[1], d[2], d[3]);
        break;
    }
}

void TrafficWriter::writeProtocolRows(const std::uint8_t (&seen)[protocolTableSize]) {
    for (int n = 0; n < protocolTableSize; ++n) {
        execFormatted(seen[n] ? sql::insertProtocolFormat : sql::dropRawFormat, protocolNames[n]);
    }
}

int TrafficWriter::buildFlows(const std::uint8_t (&seen)[protocolTableSize]) {
    int flowTables = 0;
    std::fputs("creating directed flows:\n", stdout);
    for (int n = 0; n < protocolTableSize; ++n) {
        if (seen[n]) {
            std::printf("%s... ", protocolNames[n]);
            execFormatted(sql::createFlowFormat, protocolNames[n], protocolNames[n]);
            std::fputs("done.\n", stdout);
            ++flowTables;
        }
    }
    std::fputs("\ncreating service indices... ", stdout);
    for (std::size_t i = 0; i < std::size(sql::serviceStatements); ++i) {
        // A statement whose flow table was never made fails, as it is meant to, and does not fail
        // the run; quiet, it is not sent, so that standard error holds only real failures.
        if (seen[sql::serviceProtocols[i]]) {
            exec(sql::serviceStatements[i]);
        } else if (!quiet) {
            db.SQLite_exec(sql::serviceStatements[i]);
        }
    }
    std::fputs("done.\n", stdout);
    return flowTables + 3;
}

}  // namespace tidewrack
