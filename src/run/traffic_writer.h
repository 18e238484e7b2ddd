// TrafficWriter: the statements that build the traffic database (db/traffic_schema.h), as the
// run sends them: the tables of the analysis mode, the rows of each packet, and the protocol
// list, flow tables and service tables built after the loop, with the console lines of their
// progress.
//
// Statements are formatted into the writer's fixed statement buffer (by formatStatement, which
// gives vsnprintf's text at a fraction of its cost) and run through the database engine; a
// failing statement is reported by the engine and the run goes on, but the run then ends with
// status 1 (failed()). All rows are written in the one transaction opened before the loop, so a
// run that dies before the commit leaves the tables and none of the rows.
#pragma once

#include <array>
#include <cstdint>

#include "capture/packet_view.h"
#include "db/SQLiteEngine.h"
#include "vocabulary/protocol_names.h"

namespace tidewrack {

class TrafficWriter {
  public:
    using ProtocolNames = std::array<const char*, protocolTableSize>;

    TrafficWriter(SQLiteEngine& engine, const ProtocolNames& names, int mode)
        : db(engine), protocolNames(names), mode(mode) {}

    // Opens the database at `path` and creates the tables of the analysis mode; 0, or 1 after
    // saying why not. A mode other than 1 or 2 ends the process, as it always has, but for
    // `flowsOnly`, the extended record's mode 3, which has none of these tables. Other tables
    // may be created next, before tablesCreated() lets another run look at the file.
    static constexpr int flowsOnlyMode = 3;
    int open(const char* path, bool flowsOnlyAllowed);
    void tablesCreated() { db.SQLite_tablesCreated(); }
    void beginTransaction();
    void commitTransaction();
    // The rows of one decoded packet: its frames row and, in mode 1, its raw row; none for an
    // IPv6 packet, which the classic tables do not hold, nor in mode 3.
    void writePacketRows(const PacketView& packet);
    // After the loop, in mode 1: the protocol list, then the flow and service tables with their
    // console lines. Returns the flow tables and service indices made.
    void writeProtocolRows(const std::uint8_t (&seen)[protocolTableSize]);
    int buildFlows(const std::uint8_t (&seen)[protocolTableSize]);
    // Leaves out the statements that are known to fail (the service tables of protocols never
    // seen), which the classic record sends, so that standard error holds only real failures.
    void sendNoFailingStatements() { quiet = true; }

    // Runs a statement; a failure is reported by the engine and fails the run.
    void exec(const char* sql);
    // Formats a statement into the statement buffer and runs it as exec does; a statement that
    // does not fit the buffer is not sent, and fails the run.
    void execFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Runs a statement that SQLite's printf made (sqlite3_mprintf, which quotes texts with %Q),
    // and frees it; none made (out of memory) fails the run.
    void execAllocated(char* sql);
    // A statement of the run failed: the database does not hold what the run saw.
    bool failed() const { return statementFailed; }

  private:
    SQLiteEngine& db;
    const ProtocolNames& protocolNames;
    const int mode;
    bool statementFailed = false;
    bool quiet = false;
    char sqlBuffer[2048] = {};
};

}  // namespace tidewrack
