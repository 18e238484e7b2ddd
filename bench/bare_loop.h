// What the two database baselines (bare_sql_loop and bare_prepared_loop) share besides the
// analyser's decoder: the command line, SQLite set up as the analyser sets it up, the
// analyser's create statements and end-of-run statements sent as text, and the commit. Each
// baseline differs only in how it writes a packet's rows.
#pragma once

#include <pcap/pcap.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

#include "db/SQLiteEngine.h"
#include "db/traffic_schema.h"
#include "vocabulary/protocol_names.h"

namespace bareloop {

struct Run {
    int mode;
    pcap_t* trace;
    sqlite3* db;
};

// Runs a statement given as text; an error is printed as the analyser prints it.
inline void exec(sqlite3* db, const char* text) {
    char* error = nullptr;
    if (sqlite3_exec(db, text, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "SQL error: %s\n", error);
        sqlite3_free(error);
    }
}

// Runs a statement built from a format and one protocol name (given twice, for the flows).
inline void execNamed(sqlite3* db, const char* format, const char* name) {
    char text[512];
    std::snprintf(text, sizeof text, format, name, name);
    exec(db, text);
}

// Usage: <program> <mode 1|2> <trace.pcap> <new database>. Opens both, SQLite set up as the
// analyser sets it up, and creates the tables of the mode; exits with a message otherwise.
inline Run start(int argc, char** argv) {
    const int mode = argc == 4 ? std::atoi(argv[1]) : 0;
    if (mode != 1 && mode != 2) {
        std::fprintf(stderr, "usage: %s <mode 1|2> <trace.pcap> <new database>\n", argv[0]);
        std::exit(2);
    }
    tidewrack::SQLiteEngine::configureLibrary();
    char error[PCAP_ERRBUF_SIZE];
    Run run{mode, pcap_open_offline(argv[2], error), nullptr};
    if (run.trace == nullptr || sqlite3_open(argv[3], &run.db) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s or %s\n", argv[2], argv[3]);
        std::exit(1);
    }
    namespace sql = tidewrack::sql;
    exec(run.db, sql::noSync);
    if (mode == 2) {
        exec(run.db, sql::createFramesOnly);
    } else {
        exec(run.db, sql::createFrames);
        exec(run.db, sql::createProtocols);
        for (int n = 0; n < tidewrack::protocolTableSize; ++n) {
            switch (n) {
            case 0: exec(run.db, sql::createHopopt); break;
            case 1: exec(run.db, sql::createIcmp); break;
            case 6: exec(run.db, sql::createTcp); break;
            case 17: exec(run.db, sql::createUdp); break;
            default: execNamed(run.db, sql::createRawFormat, tidewrack::protocolTableName(n));
            }
        }
    }
    exec(run.db, sql::noSync);
    exec(run.db, sql::begin);
    return run;
}

// The end-of-run statements of the mode, the commit, and the packet count on standard output.
inline int finish(const Run& run, const std::uint8_t (&protocolSeen)[tidewrack::protocolTableSize],
                  int packets) {
    namespace sql = tidewrack::sql;
    pcap_close(run.trace);
    if (run.mode == 1) {
        for (int n = 0; n < tidewrack::protocolTableSize; ++n) {
            execNamed(run.db, protocolSeen[n] ? sql::insertProtocolFormat : sql::dropRawFormat,
                      tidewrack::protocolTableName(n));
        }
        for (int n = 0; n < tidewrack::protocolTableSize; ++n) {
            if (protocolSeen[n]) {
                execNamed(run.db, sql::createFlowFormat, tidewrack::protocolTableName(n));
            }
        }
        for (const char* statement : sql::serviceStatements) {
            exec(run.db, statement);
        }
    }
    exec(run.db, sql::commit);
    sqlite3_close(run.db);
    std::printf("%d packets\n", packets);
    return 0;
}

}  // namespace bareloop
