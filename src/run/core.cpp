// Core's command line, construction, destruction and run sequence.
//
// The run sequence configures the engines in a fixed order (filter text, inputs, dump, snap
// length, database, budget, default input and filter) and stops at the first step that ends
// the run. Text options keep pointers to the argument strings themselves.
#include "run/core.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>

#include "run/process_setup.h"
#include "version.h"

namespace tidewrack {

namespace {

constexpr const char* shortOptions = "i:I:c:f:F:r:w:s:m:d:lhvVx";

constexpr option longOptions[] = {
    {"interface", required_argument, nullptr, 'i'},
    {"ifnum", required_argument, nullptr, 'I'},
    {"count", required_argument, nullptr, 'c'},
    {"filter", required_argument, nullptr, 'f'},
    {"filter-file", required_argument, nullptr, 'F'},
    {"read-dump", required_argument, nullptr, 'r'},
    {"write-dump", required_argument, nullptr, 'w'},
    {"snaplen", required_argument, nullptr, 's'},
    {"mode", required_argument, nullptr, 'm'},
    {"database", required_argument, nullptr, 'd'},
    {"list", no_argument, nullptr, 'l'},
    {"help", no_argument, nullptr, 'h'},
    {"verbose", no_argument, nullptr, 'v'},
    {"version", no_argument, nullptr, 'V'},
    {"extended", no_argument, nullptr, 'x'},
    {nullptr, 0, nullptr, 0},
};

constexpr const char* usageLines =
    "  -i, --interface <str>      select interface by name -> see -l, --list\n"
    "  -I, --ifnum <int>          select interface by number (windows only)\n"
    "  -c, --count <int>          specify the number of packets to analyse\n"
    "  -f, --filter <str>         filter expression\n"
    "  -F, --filter-file <file>   load filter expression from file\n"
    "  -r, --read-dump <file>     analyse pcap trace file\n"
    "  -w, --write-dump <file>    create pcap trace file\n"
    "  -s, --snaplen <int>        specify portion of packets to be recorded/analysed\n"
    "  -l, --list                 list available interfaces on localhost\n"
    "  -h, --help                 display this help\n"
    "  -v, --verbose              increase verbosity\n"
    "  -V, --version              display a version string\n"
    "\n    if no interface or dump file is specified the program will default\n"
    "    to the first available adapter on localhost\n\n";

template <typename T>
void set(Option<T>& option, T value) {
    option.given = true;
    option.value = value;
}

}  // namespace

Core::Core(int argc, char** argv) : programName(argc > 0 ? argv[0] : "tidewrack") {
    parseOptions(argc, argv);
    if (verbose) {
        std::fputs("Core:   initializing...\n", stdout);
    }
    makeEngines();
    sqliteEngine.emplace(verbose);
    for (int n = 0; n < protocolTableSize; ++n) {
        protocolNames[n] = protocolTableName(n);
    }
}

Core::~Core() {
    if (database.given) {
        sqliteEngine->SQLite_close();
    }
    sqliteEngine.reset();
    pcapEngine.reset();
    if (verbose) {
        std::fputs("Core:   shutdown complete.\n", stdout);
    }
}

void Core::makeEngines() {
    pcapEngine.reset();
    pcapEngine.emplace(verbose);
    if (extendedWanted) {
        extendedRecord.emplace();
        pcapEngine->extend(*extendedRecord);
    }
}

void Core::parseOptions(int argc, char** argv) {
    optind = 0;  // a fresh scan, also when a Core was made before in this process
    int c;
    while ((c = getopt_long(argc, argv, shortOptions, longOptions, nullptr)) != -1) {
        switch (c) {
        case 'i': set(interfaceName, static_cast<const char*>(optarg)); break;
        case 'I': set(interfaceNumber, std::atoi(optarg)); break;
        case 'c': set(count, std::atoi(optarg)); break;
        case 'f': set(filter, static_cast<const char*>(optarg)); break;
        case 'F': set(filterFile, static_cast<const char*>(optarg)); break;
        case 'r': set(readDump, static_cast<const char*>(optarg)); break;
        case 'w': set(writeDump, static_cast<const char*>(optarg)); break;
        case 's': set(snapLength, std::atoi(optarg)); break;
        case 'm': set(mode, std::atoi(optarg)); break;
        case 'd': set(database, static_cast<const char*>(optarg)); break;
        case 'l': listWanted = true; break;
        case 'h': helpWanted = true; break;
        case 'v': verbose = true; break;
        case 'V': versionWanted = true; break;
        case 'x': extendedWanted = true; break;
        default: break;  // the parser has reported it; parsing goes on
        }
    }
}

void Core::version() const {
    std::fputs("\nTIDEWRACK TRAFFIC ANALYSER\n"
               "Version:  " TIDEWRACK_VERSION "\n"
               "Compiled: " __DATE__ "\n\n",
               stdout);
}

void Core::help() const {
    version();
    std::printf("\n Usage: %s [options]\n\n", programName);
    std::fputs(usageLines, stdout);
}

int Core::run() {
    if (interfaceName.given && interfaceNumber.given) {
        std::fputs("Conflicting flags detected: -i, -I", stdout);
        return 1;
    }
    if (versionWanted) {
        version();
        return 0;
    }
    if (helpWanted) {
        help();
        return 0;
    }
    if (listWanted) {
        return pcapEngine->printDeviceList();
    }
    if (filter.given) {
        pcapEngine->setFilterExpr(filter.value);
    }
    if (filterFile.given) {
        std::fputs("\nFeature not yet implemented.\n", stdout);
        return 1;
    }
    // A failed open is reported by the engine; the run goes on with whatever input is open.
    if (interfaceName.given) {
        pcapEngine->openDevice(interfaceName.value);
    }
    if (interfaceNumber.given) {
        pcapEngine->openDevice(interfaceNumber.value);
    }
    if (readDump.given) {
        pcapEngine->openDump(readDump.value);
    }
    // The extended record never takes another input for one asked for: an input that cannot be
    // opened, or whose link type it cannot read, ends the run before anything is created.
    if (extendedRecord && !extendedRecord->inputsUsable(*pcapEngine)) {
        return 1;
    }
    if (writeDump.given &&
        pcapEngine->writeDump(writeDump.value, database.given ? database.value : nullptr) != 0) {
        return 1;
    }
    if (snapLength.given) {
        pcapEngine->setSnapLength(snapLength.value);
    }
    if (database.given && openDatabase() != 0) {
        return 1;
    }
    if (count.given) {
        packetsLeft = count.value;
    }
    if (pcapEngine->inputOpenCheck() != 0) {
        if (extendedRecord) {
            extendedRecord->inputsUsable(*pcapEngine);  // says why on standard error too
        }
        return 1;
    }
    noteOutputError();  // of the listening line, flushed at once
    if (writer) {
        writer->beginTransaction();
    }
    int status = analyse();
    if (writer) {
        writer->commitTransaction();
        // A statement failed: rows were refused (a database that cannot be written), or SQLite
        // gave up the transaction (a full disk, say) and nothing of the run reached the database.
        if (writer->failed()) {
            std::fputs("\nError writing database file.\n", stdout);
            status = 1;
        }
    }
    if (writeDump.given && pcapEngine->finishDump() != 0) {
        status = 1;
    }
    // The extended record's input was cut short by a read error: what was read is kept, and the
    // run fails.
    if (extendedRecord && extendedRecord->reportFailure(*pcapEngine)) {
        status = 1;
    }
    return status;
}

int Core::openDatabase() {
    writer.emplace(*sqliteEngine, protocolNames, mode.value);
    if (writer->open(database.value) != 0) {
        return 1;
    }
    if (extendedRecord) {
        extendedRecord->createTables(*writer);
    }
    writer->tablesCreated();
    return 0;
}

void Core::analyseTraceAndRollBack(const char* trace) {
    makeEngines();
    if (extendedRecord) {
        extendedRecord->writeInto(*writer);  // the tables of openDatabase(), made once
    }
    if (pcapEngine->openDump(trace) == 0 &&
        (!writeDump.given || pcapEngine->writeDump(writeDump.value) == 0) &&
        pcapEngine->inputOpenCheck() == 0) {
        writer->exec("BEGIN;");
        analyse();
        writer->exec("ROLLBACK;");
        pcapEngine->finishDump();
    }
    pcapEngine.reset();
}

}  // namespace tidewrack
