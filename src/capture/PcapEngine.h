// PcapEngine: the program's only contact with libpcap.
//
// It owns the adapter list, the capture source (a live adapter or a trace file), the output
// dump and the filter, and it decodes each packet into its packet view, which the run control
// reads directly between two calls of capture(). Operations that can fail print their own
// message to standard output and return 0 for success, 1 for failure.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

#include "capture/live_reader.h"
#include "capture/local_time_text.h"
#include "capture/packet_view.h"

namespace tidewrack {

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
    void setFilterExpr(const char* text) { filterExpr = text; }
    void setSnapLength(int n) { snapLength = n; }
    int setFilter();
    int inputOpenCheck();
    void dumpPacket() {
        pcap_dump(reinterpret_cast<u_char*>(dumper), view.header, view.packetData);
    }
    int finishDump();
    void reportDrops() const { reader.reportDrops(); }

    // Decoding: fetch the next packet into the packet view; 0 decoded, 1 stop.
    int capture();

    // First signal of SIGINT or SIGTERM ends capture at the next packet boundary.
    void stopOnInterrupt() { reader.catchInterrupts(); }

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
    PacketView view;  // the current packet, valid until the next call of capture()

  private:
    enum class OpenResult { Opened, NotEthernet, Failed };
    OpenResult openAdapter(const char* name);
    OpenResult openNumbered(int number);
    void replaceHandle(pcap_t* newHandle, bool isLive, const char* name);
    bool sameFileAsInput(const char* path) const;
    void printPacketLine() const;

    LiveReader reader;
    LocalTimeText clock;
};

}  // namespace tidewrack
