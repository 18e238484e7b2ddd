// Core's side of the traffic database: the tables of the analysis mode, the rows of each
// packet, and the protocol list, flow tables and service tables built after the loop.
//
// Statements are formatted into Core's fixed sqlBuffer (by formatStatement, which gives
// vsnprintf's text at a fraction of its cost) and run through the database engine;
// a failing statement is reported by the engine and the run goes on. All rows are written in
// the one transaction opened before the loop, so a run that dies before the commit leaves the
// tables and none of the rows. Writes are not synced to the disk, from the first create
// statement on: a killed run still leaves a whole database, only a crash of the machine may not.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "capture/file_identity.h"
#include "db/extended_schema.h"
#include "db/traffic_schema.h"
#include "run/core.h"
#include "run/duration.h"
#include "run/statement_format.h"

namespace tidewrack {

void Core::exec(const char* sql) {
    if (sqliteEngine->SQLite_exec(sql) != 0) {
        databaseFailed = true;
    }
}

void Core::execFormatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = formatStatement(sqlBuffer, sizeof sqlBuffer, format, args);
    va_end(args);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof sqlBuffer) {
        databaseFailed = true;  // a cut statement is never sent
        return;
    }
    exec(sqlBuffer);
}

int Core::openDatabase() {
    SQLiteEngine& db = *sqliteEngine;
    // The console text would go into the database, and SQLite's pages into the console.
    for (const auto& [stream, name] :
         {std::pair{stdout, "standard output"}, std::pair{stderr, "standard error"}}) {
        if (isOpenAt(stream, database.value, true)) {
            std::printf("SQLiteEngine: Can't open database: %s goes to %s\n", name, database.value);
            return 1;
        }
    }
    if (db.SQLite_open(database.value) != 0) {
        return 1;
    }
    if (mode.value != 1 && mode.value != 2) {
        std::printf("mode: %d - unknown mode!\n", mode.value);
        std::exit(1);
    }
    if (db.SQLite_checkEmpty(database.value) != 0) {
        return 1;
    }
    // Each create statement still commits on its own, so a run stopped at any point leaves the
    // tables created so far, but without waiting for the disk twice per statement.
    exec(sql::noSync);
    if (mode.value == 2) {
        exec(sql::createFramesOnly);
    } else {
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
    }
    if (extendedWanted) {
        createExtendedTables();
    }
    db.SQLite_tablesCreated();
    return 0;
}

void Core::beginTransaction() {
    exec(sql::noSync);
    exec(sql::begin);
}

void Core::commitTransaction() {
    exec(sql::commit);
}

void Core::writePacketRows() {
    const PacketView& p = pcapEngine->view;
    if (p.ipv6) {
        execFormatted(sql::insertFrame6Format, p.packetCount, p.sourceText, p.sourcePort,
                      p.destinationText, p.destinationPort, p.protocolName, p.tcpFlagsText,
                      p.timeText, static_cast<int>(p.header->ts.tv_usec), p.header->len);
        writeDayRow();
        return;
    }
    const std::uint8_t* s = p.sourceAddress;
    const std::uint8_t* d = p.destinationAddress;
    execFormatted(sql::insertFrameFormat, p.packetCount, s[0], s[1], s[2], s[3], p.sourcePort, d[0],
                  d[1], d[2], d[3], p.destinationPort, p.protocolName, p.tcpFlagsText, p.timeText,
                  static_cast<int>(p.header->ts.tv_usec), p.header->len);
    if (extendedWanted) {
        writeDayRow();
    }
    if (mode.value != 1) {
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

void Core::writeProtocolRows() {
    for (int n = 0; n < protocolTableSize; ++n) {
        execFormatted(pcapEngine->view.protocolSeen[n] ? sql::insertProtocolFormat
                                                       : sql::dropRawFormat,
                      protocolNames[n]);
    }
}

void Core::buildFlows() {
    int flowTables = 0;
    std::fputs("creating directed flows:\n", stdout);
    for (int n = 0; n < protocolTableSize; ++n) {
        if (pcapEngine->view.protocolSeen[n]) {
            std::printf("%s... ", protocolNames[n]);
            execFormatted(sql::createFlowFormat, protocolNames[n], protocolNames[n]);
            std::fputs("done.\n", stdout);
            ++flowTables;
        }
    }
    std::fputs("\ncreating service indices... ", stdout);
    for (std::size_t i = 0; i < std::size(sql::serviceStatements); ++i) {
        // A statement whose flow table was never made fails, as it is meant to; the extended
        // record does not send it, so that its standard error holds only real failures.
        if (pcapEngine->view.protocolSeen[sql::serviceProtocols[i]]) {
            exec(sql::serviceStatements[i]);
        } else if (!extendedWanted) {
            sqliteEngine->SQLite_exec(sql::serviceStatements[i]);
        }
    }
    std::fputs("done.\n", stdout);
    endTime = std::time(nullptr);
    const Duration flows = splitDuration(captureEndTime, endTime);
    std::printf("\n%d flows and service indices created in: %.2d:%.2d:%.2d\n\n", flowTables + 3,
                flows.hours, flows.minutes, flows.seconds);
}

}  // namespace tidewrack
