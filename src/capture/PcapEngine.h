// PcapEngine: the program's only contact with libpcap.
//
// It owns the adapter list, the capture source (a live adapter or a trace file), the output
// dump and the filter, and it decodes each packet into its packet view, which the run control
// reads directly between two calls of capture(). The operations of the capture sources that can
// fail (those that return an int) print their own message to standard output and return 0 for
// success, 1 for failure.
//
// With the extended record (extend()), the record chooses how each input is read when it opens
// and reads every frame the input delivers; capture() then returns only the frames it analyses,
// copying the others to the dump on the way.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <string>

#include "capture/input_reader.h"
#include "capture/local_time_text.h"
#include "capture/packet_view.h"

namespace tidewrack {

class ExtendedRecord;

class PcapEngine {
  public:
    explicit PcapEngine(bool verbose);
    ~PcapEngine();
    PcapEngine(const PcapEngine&) = delete;
    PcapEngine& operator=(const PcapEngine&) = delete;

    // Capture sources (adapter list, inputs, dump, filter).
    void getDeviceList();
    int printDeviceList();
    int openDevice(const char* name);
    int openDevice(int number);
    int openDump(const char* path);
    // Opens the dump; refused when it would be the input or standard output, or, when a
    // database is given, the database, its journal or standard error.
    int writeDump(const char* path, const char* databasePath = nullptr);
    void setFilterExpr(const char* text) {
        filterExpr = text;
        filterGiven = true;
    }
    void setSnapLength(int n) { snapLength = n; }
    int setFilter();
    int inputOpenCheck();
    // Copies the current packet to the dump, as it was read.
    void dumpPacket() {
        pcap_dump(reinterpret_cast<u_char*>(dumper), deliveredHeader, view.packetData);
    }
    int finishDump();
    void reportDrops() const { reader.reportDrops(); }

    // Decoding: fetch the next packet into the packet view; 0 decoded, 1 stop.
    int capture();

    // Hands every input opened from now on to the extended record, which must outlive the engine.
    void extend(ExtendedRecord& record) { extended = &record; }

    // What the extended record tells of the input: why the last input asked for could not be
    // opened (empty when every one could), where the frames came from, libpcap's text of the
    // read error that ended it (empty when none did), the kernel's counts of a live adapter's
    // packets received and dropped (false for a trace).
    const char* openFailed() const { return openFailure; }
    const char* sourceName() const { return source; }
    pcap_t* inputHandle() const { return handle; }
    const std::string& readError() const { return readErrorText; }
    bool kernelCounts(unsigned& received, unsigned& dropped) const {
        return reader.kernelCounts(received, dropped);
    }

    PacketView view;  // the current packet, valid until the next call of capture()

  private:
    enum class OpenResult { Opened, NotEthernet, Failed };
    OpenResult openAdapter(const char* name);
    OpenResult openNumbered(int number);
    void replaceHandle(pcap_t* newHandle, bool isLive, const char* name);
    bool sameFileAsInput(const char* path) const;
    // Takes a newly opened input as the current one, unless the extended record refuses to read
    // it (it is closed then).
    OpenResult use(pcap_t* opened, bool live, const char* name);
    // An input asked for could not be opened: keeps why, beside the console's own line.
    void notOpened(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Counts a frame and decodes it into the view; false when the extended record does not
    // analyse it.
    bool readFrame(const pcap_pkthdr* header, const u_char* data);
    // Says why capture stops, when it says anything; returns the stop result.
    int stop(ReadResult result);
    void printPacketLine() const;

    bool verbose;
    const char* inputName = "NONE";
    const char* dumpName = "NONE";
    pcap_if_t* deviceList = nullptr;
    pcap_if_t* currentDevice = nullptr;
    pcap_t* handle = nullptr;
    const char* filterExpr = "ip";
    bpf_program filterProgram{};
    bpf_u_int32 netmask;  // 255.255.255.0 in network byte order until an adapter says otherwise
    char errorBuffer[PCAP_ERRBUF_SIZE] = {};
    std::int32_t snapLength = 65536;
    pcap_dumper_t* dumper = nullptr;

    bool filterGiven = false;     // the user gave a filter expression
    const char* source = "NONE";  // the trace path or the adapter name opened last
    std::string readErrorText;    // of the read error that ended the input
    char openFailure[PCAP_ERRBUF_SIZE + 512] = {};
    ExtendedRecord* extended = nullptr;  // offered every input opened
    // How the open input is read, chosen when it opened: by the extended record, which then
    // counts every frame (no default filter; the user's applied frame by frame to a trace), or
    // as the classic record reads it.
    struct Reading {
        ExtendedRecord* record = nullptr;
        bool defaultFilter = true;
        bool filterEachFrame = false;
    } reading;
    const bpf_program* frameFilter = nullptr;      // the user's, when the record applies it
    const pcap_pkthdr* deliveredHeader = nullptr;  // the current packet's header, as read
    InputReader reader;
    LocalTimeText clock;
};

}  // namespace tidewrack
