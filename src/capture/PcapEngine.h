// PcapEngine: the program's only contact with libpcap.
//
// It owns the adapter list, the capture source (a live adapter or a trace file), the output
// dump and the filter, and it decodes each packet into its packet view, which the run control
// reads directly between two calls of capture(). Operations that can fail print their own
// message to standard output and return 0 for success, 1 for failure.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <memory>
#include <string>

#include "capture/frame_census.h"
#include "capture/link_layer.h"
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
    void setFilterExpr(const char* text) {
        filterExpr = text;
        filterGiven = true;
    }
    void setSnapLength(int n) { snapLength = n; }
    int setFilter();
    int inputOpenCheck();
    // The packet as it was read, whatever the view made of its timestamp.
    void dumpPacket() {
        pcap_dump(reinterpret_cast<u_char*>(dumper), deliveredHeader, view.packetData);
    }
    int finishDump();
    void reportDrops() const { reader.reportDrops(); }

    // Decoding: fetch the next packet into the packet view; 0 decoded, 1 stop.
    int capture();

    // First signal of SIGINT or SIGTERM ends capture at the next packet boundary.
    void stopOnInterrupt() { reader.catchInterrupts(); }

    // The extended record, asked for before any input is opened: every link type that
    // link_layer.h reads is accepted (others are refused, see linkTypeRefused), no default
    // filter is installed, and capture() returns only the frames it analyses (IPv4 here),
    // counting the others in the census and copying them to the dump.
    void setExtended() { census = std::make_unique<FrameCensus>(); }
    bool extended() const { return census != nullptr; }
    // The kernel's counts of a live adapter's packets received and dropped; false for a trace.
    bool kernelCounts(unsigned& received, unsigned& dropped) const {
        return reader.kernelCounts(received, dropped);
    }

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

    bool filterGiven = false;             // the user gave a filter expression
    std::unique_ptr<FrameCensus> census;  // the extended record's account; null without it
    bool openFailed = false;  // extended: an input asked for could not be opened, or not read
    std::string readError;    // extended: libpcap's text of the error that ended the input
    const char* sourceName = "NONE";  // the trace path or the adapter name opened last

  private:
    enum class OpenResult { Opened, NotEthernet, Failed };
    OpenResult openAdapter(const char* name);
    OpenResult openNumbered(int number);
    void replaceHandle(pcap_t* newHandle, bool isLive, const char* name);
    bool sameFileAsInput(const char* path) const;
    // Extended: false (and a message) when the input's link type cannot be read.
    bool acceptLinkType(pcap_t* opened, const char* name);
    // Extended: capture() past the frames that are not analysed, which decodeExtended counts
    // and copies to the dump; it reads the link layer of a delivered frame and decodes it when
    // it is IPv4.
    int captureExtended();
    bool decodeExtended(const pcap_pkthdr* header, const u_char* data);
    // Says why capture stops, when it says anything; returns the stop result.
    int stop(ReadResult result);
    // Extended: an input asked for cannot be used; says so on standard error as well.
    void openFailure(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void printPacketLine() const;

    LiveReader reader;
    LocalTimeText clock;
    const pcap_pkthdr* deliveredHeader = nullptr;  // the current packet's header, as read
    pcap_pkthdr stampedHeader{};  // extended: the same, its microseconds within a second
    LinkType linkType = LinkType::Ethernet;
    bool offlineFilter = false;  // extended, trace file: the filter is applied frame by frame
};

}  // namespace tidewrack
