// libFuzzer target: arbitrary bytes taken as a trace file and run through the program's own
// path, as "tidewrack -v -r <file> -w /dev/null -d :memory:" runs it: libpcap opens the file,
// the "ip" filter is installed, every record is decoded and printed, copied to a dump, and
// written as the rows of the full analysis; the protocol list, flow and service tables follow.
// Each input is then run again with the extended record ("-x"), where every record's link layer
// is read and counted, whatever the trace's link type.
//
// libpcap hands out each record inside one buffer as large as the trace's snapshot length, so a
// read past a record's captured bytes would still land in that buffer and go unnoticed. The
// target is therefore linked with pcap_next_ex wrapped (see below): every record the program
// gets is a copy in an allocation of exactly its captured length, where AddressSanitizer sees
// the first byte read beyond it.
//
// One Core and one in-memory database serve every input, because creating the ~144 tables per
// input would cost far more than the input itself: the tables are made once, each input gets a
// fresh PcapEngine and runs inside a transaction that is rolled back afterwards, so each input
// starts from the same empty tables. The program's console output goes to /dev/null; libFuzzer
// reports on standard error (where SQLite's statement errors also go).
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "capture/interrupt.h"
#include "run/core.h"

namespace {

std::string tracePath;
char program[] = "tidewrack", verbose[] = "-v", write[] = "-w", dump[] = "/dev/null",
     database[] = "-d", memory[] = ":memory:", extended[] = "-x";
char* arguments[] = {program, verbose, write, dump, database, memory, nullptr};
char* extendedArguments[] = {program, extended, verbose, write, dump, database, memory, nullptr};
tidewrack::Core* classic = nullptr;  // both live for the whole process
tidewrack::Core* extendedRecord = nullptr;
std::unique_ptr<u_char[]> record;  // the copy of the current record

}  // namespace

extern "C" int __real_pcap_next_ex(pcap_t*, pcap_pkthdr**, const u_char**);

// The program's pcap_next_ex: libpcap's result, with the record's bytes moved into an exact
// allocation of its captured length (none at all for an empty record).
extern "C" int __wrap_pcap_next_ex(pcap_t* handle, pcap_pkthdr** header, const u_char** data) {
    record.reset();
    const int result = __real_pcap_next_ex(handle, header, data);
    if (result == 1) {
        const bpf_u_int32 length = (*header)->caplen;
        if (length > 0) {
            record = std::make_unique_for_overwrite<u_char[]>(length);
            std::memcpy(record.get(), *data, length);
        }
        *data = record.get();
    }
    return result;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tracePath = "/dev/shm/tidewrack-fuzz-" + std::to_string(getpid()) + ".pcap";
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    classic = new tidewrack::Core(6, arguments);
    extendedRecord = new tidewrack::Core(7, extendedArguments);
    return classic->openDatabase() | extendedRecord->openDatabase();
}

namespace {

void runOnce(tidewrack::Core* core) {
    // The program installs its interrupt handlers when it opens the trace; libFuzzer's own are
    // put back afterwards, and an interrupt that the program caught is passed on to them.
    constexpr int caught[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
    struct sigaction fuzzerActions[std::size(caught)] = {};
    for (std::size_t i = 0; i < std::size(caught); ++i) {
        sigaction(caught[i], nullptr, &fuzzerActions[i]);
    }
    core->analyseTraceAndRollBack(tracePath.c_str());
    for (std::size_t i = 0; i < std::size(caught); ++i) {
        sigaction(caught[i], &fuzzerActions[i], nullptr);
    }
    if (tidewrack::captureInterrupted()) {
        std::raise(SIGINT);
    }
    std::fflush(stdout);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(tracePath.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        return 0;
    }
    runOnce(classic);
    runOnce(extendedRecord);
    unlink(tracePath.c_str());
    return 0;
}
