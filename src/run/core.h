// Core: the program's spine. It parses the command line, owns the capture engine, the database
// engine and the writer of the traffic database, runs the configuration steps in their fixed
// order (core.cpp) and drives the analysis loop (analyse.cpp). With -x it owns the extended
// record too, and hands it to the capture engine and the loop.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>

#include "capture/PcapEngine.h"
#include "db/SQLiteEngine.h"
#include "extended/extended_record.h"
#include "run/traffic_writer.h"
#include "vocabulary/protocol_names.h"

namespace tidewrack {

// A command-line option: whether it was given, and its value (the last one given).
template <typename T>
struct Option {
    bool given = false;
    T value{};
};

class Core {
  public:
    Core(int argc, char** argv);
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    int run();  // the exit status: 0 or 1
    void version() const;
    void help() const;

    // For a harness that feeds many trace files to one database (the fuzz target): the tables
    // of the command line's database are created once (0, or 1 when they could not be), then
    // each trace is analysed as `-r trace` would, with a fresh capture engine and extended
    // record, inside a transaction that is rolled back, so that every trace meets the same
    // empty tables.
    int openDatabase();
    void analyseTraceAndRollBack(const char* trace);

  private:
    void parseOptions(int argc, char** argv);
    int runSequence();
    // The capture engine, and the extended record when -x asks for it, made anew.
    void makeEngines();
    int analyse();

    const char* programName;
    std::int32_t packetsLeft = -1;
    const char spinner[4] = {'-', '\\', '|', '/'};
    std::optional<PcapEngine> pcapEngine;
    std::optional<SQLiteEngine> sqliteEngine;

    Option<const char*> interfaceName;  // -i
    Option<int> interfaceNumber;        // -I
    Option<int> count;                  // -c
    Option<const char*> filter;         // -f
    Option<const char*> filterFile;     // -F
    Option<const char*> readDump;       // -r
    Option<const char*> writeDump;      // -w
    Option<int> snapLength;             // -s
    Option<int> mode{false, 1};         // -m: 1 full analysis, 2 frames only
    Option<const char*> database;       // -d
    bool listWanted = false;            // -l
    bool helpWanted = false;            // -h
    bool verbose = false;               // -v
    bool versionWanted = false;         // -V
    bool extendedWanted = false;        // -x

    std::time_t startTime = 0;
    std::time_t captureEndTime = 0;
    std::time_t endTime = 0;
    TrafficWriter::ProtocolNames protocolNames{};
    std::optional<TrafficWriter> writer;           // with -d
    std::optional<ExtendedRecord> extendedRecord;  // with -x
    bool spinnerOnTerminalOnly = false;
};

}  // namespace tidewrack
