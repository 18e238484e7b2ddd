// Core: the program's spine. It parses the command line, owns the capture engine and the
// database engine, runs the configuration steps in their fixed order, drives the analysis loop
// and writes the traffic database.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>

#include "capture/PcapEngine.h"
#include "capture/protocol_names.h"
#include "db/SQLiteEngine.h"

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
    // Two steps of run(), open so that a harness can analyse many inputs with one database:
    // creating the tables of the analysis mode, and the analysis loop with its report.
    int openDatabase();
    int analyse();
    void version() const;
    void help() const;

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
    bool extendedWanted = false;        // -x: the extended record

    std::time_t startTime = 0;
    std::time_t captureEndTime = 0;
    std::time_t endTime = 0;
    std::array<const char*, protocolTableSize> protocolNames{};
    char sqlBuffer[2048] = {};

  private:
    void parseOptions(int argc, char** argv);

    // The traffic database (traffic_database.cpp).
    void beginTransaction();
    void writePacketRows();
    void writeProtocolRows();
    void buildFlows();
    void commitTransaction();
    // Runs a statement of the run; a failure is reported by the engine and fails the run.
    void exec(const char* sql);
    // Formats a statement into sqlBuffer and runs it as exec does; a statement that does not fit
    // the buffer is not sent, and fails the run.
    void execFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // A statement of the run failed (other than the service tables of protocols never seen):
    // the database does not hold what the run saw.
    bool databaseFailed = false;

    // The extended record (extended_record.cpp): its tables, the date of each analysed frame
    // when it changes, the rows written after the loop, and the console line of the frames
    // not analysed.
    void createExtendedTables();
    void writeDayRow();
    void writeExtendedRows();
    void writeCaptureRow();
    void printNotAnalysed() const;
    // The day and UTC offset of the last DAYS row; no local date is day -1, no row yet day -2.
    int recordedDay = -2;
    long recordedOffset = 0;
};

}  // namespace tidewrack
