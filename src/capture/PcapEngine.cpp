// PcapEngine's capture sources: the adapter list, opening an adapter or a trace file, the
// output dump, the filter, and the fallback to the first adapter when no input was given.
//
// A failed open never disturbs an input that an earlier option opened: the new handle is
// opened on its own and replaces the current one only when it can be used.
#include "capture/PcapEngine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "extended/extended_record.h"
#include "files/file_identity.h"

namespace tidewrack {

namespace {

constexpr int ethernetLinkType = DLT_EN10MB;

// The kernel ring of a live adapter, in bytes. A burst faster than the analysis waits in it:
// with libpcap's default (2 MiB on Linux), a full analysis began to lose packets of a 10-second
// burst at 125,000 packets a second, with 32 MiB at 200,000. Its pages count in the program's
// memory for as long as the adapter is open; a trace file has no ring.
constexpr int liveRingBytes = 32 * 1024 * 1024;

}  // namespace

PcapEngine::PcapEngine(bool verboseOutput) : verbose(verboseOutput), netmask(htonl(0xFFFFFF00u)) {
    if (verbose) {
        std::fputs("PcapEngine: initializing...\n", stdout);
    }
    getDeviceList();
}

PcapEngine::~PcapEngine() {
    // Closing the dump writer flushes it, so the dump is complete on every way out of a run.
    if (dumper != nullptr) {
        pcap_dump_close(dumper);
    }
    if (handle != nullptr) {
        pcap_close(handle);
    }
    pcap_freecode(&filterProgram);
    if (deviceList != nullptr) {
        pcap_freealldevs(deviceList);
    }
    if (verbose) {
        std::fputs("PcapEngine: shutdown complete.\n", stdout);
    }
}

void PcapEngine::getDeviceList() {
    if (pcap_findalldevs(&deviceList, errorBuffer) == -1) {
        deviceList = nullptr;
        std::printf("Error in pcap_findalldevs: %s\n", errorBuffer);
    }
}

int PcapEngine::printDeviceList() {
    int number = 0;
    for (currentDevice = deviceList; currentDevice != nullptr;
         currentDevice = currentDevice->next) {
        std::printf("%d. %s", ++number, currentDevice->name);
        if (currentDevice->description != nullptr) {
            std::printf("\n(%s)\n", currentDevice->description);
        } else {
            std::fputs("\n(No description available)\n", stdout);
        }
    }
    if (number == 0) {
        std::fputs("\nNo interfaces found!\n", stdout);
        return 1;
    }
    return 0;
}

void PcapEngine::replaceHandle(pcap_t* newHandle, bool isLive, const char* name) {
    if (handle != nullptr) {
        pcap_close(handle);
    }
    handle = newHandle;
    source = name;
    reader.attach(handle, isLive, name, errorBuffer);
}

PcapEngine::OpenResult PcapEngine::use(pcap_t* opened, bool live, const char* name) {
    // The reading of the input is chosen here, once: the extended record reads every link type
    // it knows (and refuses the others), installs no filter of its own, and applies the user's
    // to each frame of a trace itself; the classic reading takes an adapter that is not
    // Ethernet after saying so, and a trace as it is.
    Reading chosen;
    if (extended != nullptr) {
        if (!extended->chooseReading(pcap_datalink(opened), name)) {
            pcap_close(opened);
            return OpenResult::Failed;
        }
        chosen = {extended, false, !live};
    }
    reading = chosen;
    replaceHandle(opened, live, name);
    if (reading.record == nullptr && live && pcap_datalink(handle) != ethernetLinkType) {
        std::fputs("\nThis program works only on Ethernet networks.\n", stdout);
        return OpenResult::NotEthernet;
    }
    return OpenResult::Opened;
}

void PcapEngine::notOpened(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(openFailure, sizeof openFailure, format, args);
    va_end(args);
}

PcapEngine::OpenResult PcapEngine::openAdapter(const char* name) {
    pcap_t* opened = pcap_create(name, errorBuffer);
    // The kernel packs packets into blocks of its ring buffer, which holds many more packets
    // than one slot per packet would; a short block time-out hands each block over soon, so
    // the one-second read time-out kept by the reader sees packets nearly as they arrive.
    if (opened != nullptr &&
        (pcap_set_snaplen(opened, snapLength) != 0 || pcap_set_promisc(opened, 1) != 0 ||
         pcap_set_timeout(opened, blockTimeoutMs) != 0 ||
         pcap_set_buffer_size(opened, liveRingBytes) != 0 || pcap_activate(opened) < 0)) {
        pcap_close(opened);
        opened = nullptr;
    }
    if (opened == nullptr) {
        std::printf("\nUnable to open adapter %s. \n", name);
        notOpened("unable to open adapter %s", name);
        return OpenResult::Failed;
    }
    return use(opened, true, name);
}

int PcapEngine::openDevice(const char* name) {
    if (openAdapter(name) != OpenResult::Opened) {
        return 1;
    }
    inputName = name;
    return 0;
}

int PcapEngine::openDevice(int number) {
    return openNumbered(number) == OpenResult::Opened ? 0 : 1;
}

PcapEngine::OpenResult PcapEngine::openNumbered(int number) {
    currentDevice = deviceList;
    for (int i = 1; i < number && currentDevice != nullptr; ++i) {
        currentDevice = currentDevice->next;
    }
    if (currentDevice == nullptr) {
        std::printf("\nNo adapter with number %d.\n", number);
        notOpened("no adapter with number %d", number);
        return OpenResult::Failed;
    }
    const OpenResult result = openAdapter(currentDevice->name);
    if (result != OpenResult::Opened) {
        return result;
    }
    const pcap_addr* first = currentDevice->addresses;
    if (first != nullptr && first->netmask != nullptr && first->netmask->sa_family == AF_INET) {
        netmask = reinterpret_cast<const sockaddr_in*>(first->netmask)->sin_addr.s_addr;
    }
    inputName =
        currentDevice->description != nullptr ? currentDevice->description : currentDevice->name;
    return result;
}

int PcapEngine::openDump(const char* path) {
    pcap_t* opened = pcap_open_offline(path, errorBuffer);
    if (opened == nullptr) {
        std::printf("\nUnable to open %s.(%s)\n", path, errorBuffer);
        notOpened("unable to open %s (%s)", path, errorBuffer);
        return 1;
    }
    if (use(opened, false, path) != OpenResult::Opened) {
        return 1;
    }
    inputName = path;
    return 0;
}

bool PcapEngine::sameFileAsInput(const char* path) const {
    return handle != nullptr && isOpenAt(pcap_file(handle), path);
}

int PcapEngine::writeDump(const char* path, const char* databasePath) {
    // Writing over the trace being read would truncate it before it is read, over the database
    // (or the journal SQLite keeps beside it) would destroy both, and a dump on standard output
    // ("-" to libpcap, or the file or pipe it goes to) would mix the console messages into the
    // trace, as one on standard error would the database's error lines. A device such as
    // /dev/null may serve both.
    const bool toConsole = std::strcmp(path, "-") == 0 || isOpenAt(stdout, path, true) ||
                           (databasePath != nullptr && isOpenAt(stderr, path, true));
    const bool onDatabase = databasePath != nullptr && (sameFile(path, databasePath) ||
                                                        isDatabaseCompanion(path, databasePath));
    if (handle == nullptr || sameFileAsInput(path) || toConsole || onDatabase ||
        (dumper = pcap_dump_open(handle, path)) == nullptr) {
        std::fputs("\nError opening dump file.\n", stdout);
        return 1;
    }
    dumpName = path;
    return 0;
}

int PcapEngine::finishDump() {
    if (dumper == nullptr) {
        return 0;
    }
    if (pcap_dump_flush(dumper) != 0 || std::ferror(pcap_dump_file(dumper)) != 0) {
        std::fputs("\nError writing dump file.\n", stdout);
        return 1;
    }
    return 0;
}

int PcapEngine::setFilter() {
    if (!reading.defaultFilter && !filterGiven) {
        return 0;
    }
    if (pcap_compile(handle, &filterProgram, filterExpr, 1, netmask) == -1) {
        std::fputs("\nError: Unable to compile the packet filter. Check the syntax.\n", stdout);
        return 1;
    }
    if (reading.filterEachFrame) {
        frameFilter = &filterProgram;
        return 0;
    }
    if (pcap_setfilter(handle, &filterProgram) == -1) {
        std::fputs("\nError: Unable to set the filter.\n", stdout);
        return 1;
    }
    return 0;
}

int PcapEngine::inputOpenCheck() {
    if (std::strcmp(inputName, "NONE") == 0) {
        currentDevice = deviceList;
        if (currentDevice == nullptr) {
            std::fputs("\nNo interfaces found!\n", stdout);
            notOpened("no adapter to capture from");
            return 1;
        }
        inputName = currentDevice->description != nullptr ? currentDevice->description
                                                          : currentDevice->name;
        std::printf("\nNo adapter specified - defaulting to %s", inputName);
        // A first adapter that is not Ethernet is used after its message; one that cannot be
        // opened at all (or, in the extended record, not read) leaves nothing to capture from.
        if (openNumbered(1) == OpenResult::Failed) {
            return 1;
        }
        // A dump opened for the handle just replaced has that handle's link type in its header:
        // it is made anew for the records it will hold.
        if (dumper != nullptr) {
            pcap_dump_close(dumper);
            if ((dumper = pcap_dump_open(handle, dumpName)) == nullptr) {
                std::fputs("\nError opening dump file.\n", stdout);
                return 1;
            }
        }
    }
    setFilter();
    reader.filterInstalled();
    std::printf("\nlistening on %s...\n", inputName);
    // Whoever watches the output (a script, through a pipe) learns at once that capture began.
    std::fflush(stdout);
    return 0;
}

}  // namespace tidewrack
