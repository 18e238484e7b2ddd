// PcapEngine::capture: fetch the next record from the reader, decode it into the packet view,
// and in verbose mode print its line; or say why capture stops.
#include <cstdio>

#include "capture/PcapEngine.h"
#include "capture/decode.h"

namespace tidewrack {

int PcapEngine::capture() {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    switch (reader.next(&header, &data)) {
    case ReadResult::Packet:
        decodePacket(view, clock, header, data);
        if (verbose) {
            printPacketLine();
        }
        return 0;
    case ReadResult::TimedOut:
        std::fputs("PcapEngine: packet capture timeout elapsed.\n", stdout);
        return 1;
    case ReadResult::Error:
        std::printf("PcapEngine: error reading packets: %s\n", pcap_geterr(handle));
        return 1;
    case ReadResult::Interrupted:
        std::fputs("PcapEngine: packet capture interrupted.\n", stdout);
        return 1;
    case ReadResult::End: break;
    }
    return 1;
}

void PcapEngine::printPacketLine() const {
    const PacketView& v = view;
    std::printf("%d: %s.%.6d ", v.packetCount, v.timeText, static_cast<int>(v.header->ts.tv_usec));
    if (!v.frameDecoded) {
        std::printf("truncated frame (%u bytes)\n", v.header->caplen);
        return;
    }
    const std::uint8_t* s = v.sourceAddress;
    const std::uint8_t* d = v.destinationAddress;
    std::printf("%s %d.%d.%d.%d:%d  ->  %d.%d.%d.%d:%d\n", v.protocolName, s[0], s[1], s[2], s[3],
                v.sourcePort, d[0], d[1], d[2], d[3], v.destinationPort);
}

}  // namespace tidewrack
