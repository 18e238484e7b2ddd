// PcapEngine::capture: fetch the next record from the reader, decode it into the packet view,
// and in verbose mode print its line; or say why capture stops. In the extended record, IPv6 is
// analysed too, and frames that are not analysed are counted and copied to the dump on the way
// to the next one.
#include <cstdio>

#include "capture/PcapEngine.h"
#include "capture/decode.h"

namespace tidewrack {

int PcapEngine::capture() {
    if (extended()) {
        return captureExtended();
    }
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    if (const ReadResult result = reader.next(&header, &data); result != ReadResult::Packet) {
        return stop(result);
    }
    decodePacket(view, clock, header, data);
    if (verbose) {
        printPacketLine();
    }
    return 0;
}

int PcapEngine::captureExtended() {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    do {
        if (const ReadResult result = reader.next(&header, &data); result != ReadResult::Packet) {
            return stop(result);
        }
    } while (!decodeExtended(header, data));
    if (verbose) {
        printPacketLine();
    }
    return 0;
}

int PcapEngine::stop(ReadResult result) const {
    switch (result) {
    case ReadResult::TimedOut:
        std::fputs("PcapEngine: packet capture timeout elapsed.\n", stdout);
        break;
    case ReadResult::Error:
        std::printf("PcapEngine: error reading packets: %s\n", pcap_geterr(handle));
        break;
    case ReadResult::Interrupted:
        std::fputs("PcapEngine: packet capture interrupted.\n", stdout);
        break;
    case ReadResult::Packet:
    case ReadResult::End: break;
    }
    return 1;
}

bool PcapEngine::decodeExtended(const pcap_pkthdr* header, const u_char* data) {
    ++view.packetCount;  // every frame delivered has its number
    census->delivered(*header);
    if (offlineFilter && pcap_offline_filter(&filterProgram, header, data) == 0) {
        census->rejected(header->len);
        return false;
    }
    const LinkFrame link = readLinkLayer(linkType, FrameBytes(data, header->caplen));
    census->tagged(link.vlan, header->len);
    if (link.kind == NetworkKind::Ipv4) {
        view.ipv6 = false;
        decodeIpv4(view, clock, header, data, link.network);
        if (view.frameDecoded) {
            census->analysed();
            return true;
        }
    } else if (link.kind == NetworkKind::Ipv6 &&
               decodeIpv6(view, clock, header, data, link.network)) {
        census->analysed();
        return true;
    }
    census->notAnalysed(link, header->len);
    if (dumper != nullptr) {
        pcap_dump(reinterpret_cast<u_char*>(dumper), header, data);
    }
    return false;
}

void PcapEngine::printPacketLine() const {
    const PacketView& v = view;
    std::printf("%d: %s.%.6d ", v.packetCount, v.timeText, static_cast<int>(v.header->ts.tv_usec));
    if (!v.frameDecoded) {
        std::printf("truncated frame (%u bytes)\n", v.header->caplen);
        return;
    }
    if (v.ipv6) {
        std::printf("%s [%s]:%d  ->  [%s]:%d\n", v.protocolName, v.sourceText, v.sourcePort,
                    v.destinationText, v.destinationPort);
        return;
    }
    const std::uint8_t* s = v.sourceAddress;
    const std::uint8_t* d = v.destinationAddress;
    std::printf("%s %d.%d.%d.%d:%d  ->  %d.%d.%d.%d:%d\n", v.protocolName, s[0], s[1], s[2], s[3],
                v.sourcePort, d[0], d[1], d[2], d[3], v.destinationPort);
}

}  // namespace tidewrack
