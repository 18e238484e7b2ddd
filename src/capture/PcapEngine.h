// PcapEngine: the program's only contact with libpcap.
//
// It owns the adapter list, the capture source (a live adapter or a trace file), the output
// dump and the filter, and it decodes each packet into the packet view: the public fields
// below from packetCount on, which the run control reads directly between two calls of
// capture(). Operations that can fail print their own message to standard output and return
// 0 for success, 1 for failure.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <ctime>

#include "capture/icmp_texts.h"
#include "capture/protocol_names.h"
#include "capture/tcp_flags.h"

namespace tidewrack {

// Bytes of a frame needed before anything is decoded: the Ethernet header and the IPv4 header
// up to the end of the destination address.
inline constexpr std::uint32_t ethernetHeaderLength = 14;
inline constexpr std::uint32_t minimumDecodedLength = ethernetHeaderLength + 20;

// A live capture ends when this long passes without a packet.
inline constexpr int readTimeoutMs = 1000;

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
    int writeDump(const char* path);
    void setFilterExpr(const char* text) { filterExpr = text; }
    void setSnapLength(int n) { snapLength = n; }
    int setFilter();
    int inputOpenCheck();
    void dumpPacket() { pcap_dump(reinterpret_cast<u_char*>(dumper), header, packetData); }
    int finishDump();
    void reportDrops();

    // Decoding: fetch the next packet into the packet view; 0 decoded, 1 stop.
    int capture();

    // First signal of SIGINT or SIGTERM ends capture at the next packet boundary.
    void stopOnInterrupt();

    bool verbose;
    const char* inputName = "NONE";
    const char* dumpName = "NONE";
    std::int32_t packetCount = 0;
    pcap_if_t* deviceList = nullptr;
    pcap_if_t* currentDevice = nullptr;
    pcap_t* handle = nullptr;
    const char* filterExpr = "ip";
    bpf_program filterProgram{};
    bpf_u_int32 netmask;  // 255.255.255.0 in network byte order until an adapter says otherwise
    char errorBuffer[PCAP_ERRBUF_SIZE] = {};
    std::int32_t snapLength = 65536;
    pcap_dumper_t* dumper = nullptr;

    // The packet view: the current packet, valid until the next call of capture().
    const std::tm* localTime = nullptr;  // null when the timestamp has no local time
    char timeText[16] = {};
    std::time_t captureSeconds = 0;
    const pcap_pkthdr* header = nullptr;
    const u_char* packetData = nullptr;
    const u_char* ipHeader = nullptr;         // packetData + 14; null for a short frame
    const u_char* transportHeader = nullptr;  // ipHeader + ipHeaderLength, at most the frame end
    std::uint32_t ipHeaderLength = 0;
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    char tcpFlagsText[tcpFlagsTextSize] = {};
    const char* protocolName = nullptr;
    const char* tcpService = nullptr;
    const char* udpService = nullptr;
    char icmpTypeText[icmpTypeTextSize] = {};
    char icmpCodeText[icmpCodeTextSize] = {};
    std::uint8_t protocolSeen[protocolTableSize] = {};
    // A frame shorter than minimumDecodedLength is counted but not decoded: the fields above
    // (but for packetCount, the time and header) are then unset.
    bool frameDecoded = false;
    std::uint8_t protocol = 0;  // IPv4 byte 9
    std::uint8_t tcpFlags = 0;  // TCP flags byte; 0 when not captured or not TCP

  private:
    enum class OpenResult { Opened, NotEthernet, Failed };
    OpenResult openAdapter(const char* name);
    OpenResult openNumbered(int number);
    void replaceHandle(pcap_t* newHandle, bool isLive);
    bool sameFileAsInput(const char* path) const;
    int nextRecord();
    void decode();
    void convertTime();
    void printPacketLine() const;

    // Length-checked access to the current frame: every packet byte is read through here.
    bool frameHas(std::uint32_t offset, std::uint32_t count) const {
        return offset <= header->caplen && count <= header->caplen - offset;
    }
    std::uint16_t frameWord(std::uint32_t offset) const {
        return frameHas(offset, 2)
                   ? static_cast<std::uint16_t>(packetData[offset] << 8 | packetData[offset + 1])
                   : 0;
    }

    bool live = false;  // handle is a live adapter, read without blocking and waited on with poll
    int liveFd = -1;    // its selectable descriptor
    u_int dropsBeforeFilter = 0;  // the kernel's drop count when the filter was installed
    std::tm localTimeStorage{};
    std::time_t convertedSeconds = 0;
    bool timeConverted = false;
};

}  // namespace tidewrack
