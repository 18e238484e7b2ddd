// libFuzzer target: arbitrary bytes taken as a trace file and run through the program's own
// path, as "tidewrack -v -r <file> -w /dev/null -d :memory:" runs it: libpcap opens the file,
// the "ip" filter is installed, every record is decoded and printed, copied to a dump, and
// written as the rows of the full analysis; the protocol list, flow and service tables follow.
//
// One Core and one in-memory database serve every input, because creating the ~144 tables per
// input would cost far more than the input itself: the tables are made once, each input gets a
// fresh PcapEngine and runs inside a transaction that is rolled back afterwards, so each input
// starts from the same empty tables. The program's console output goes to /dev/null; libFuzzer
// reports on standard error (where SQLite's statement errors also go).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "run/core.h"

namespace {

std::string tracePath;
char program[] = "tidewrack", verbose[] = "-v", write[] = "-w", dump[] = "/dev/null",
     database[] = "-d", memory[] = ":memory:";
char* arguments[] = {program, verbose, write, dump, database, memory, nullptr};
tidewrack::Core* core = nullptr;  // lives for the whole process

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tracePath = "/dev/shm/tidewrack-fuzz-" + std::to_string(getpid()) + ".pcap";
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    core = new tidewrack::Core(6, arguments);
    return core->openDatabase();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(tracePath.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        return 0;
    }
    tidewrack::PcapEngine& engine = core->pcapEngine.emplace(true);
    if (engine.openDump(tracePath.c_str()) == 0 && engine.writeDump(dump) == 0 &&
        engine.inputOpenCheck() == 0) {
        core->sqliteEngine->SQLite_exec("BEGIN;");
        core->analyse();
        core->sqliteEngine->SQLite_exec("ROLLBACK;");
        engine.finishDump();
    }
    core->pcapEngine.reset();
    std::fflush(stdout);
    unlink(tracePath.c_str());
    return 0;
}
