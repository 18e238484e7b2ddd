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
    deliveredHeader = header;
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

int PcapEngine::stop(ReadResult result) {
    switch (result) {
    case ReadResult::TimedOut:
        std::fputs("PcapEngine: packet capture timeout elapsed.\n", stdout);
        break;
    case ReadResult::Error:
        std::printf("PcapEngine: error reading packets: %s\n", pcap_geterr(handle));
        // The extended record keeps what was read, and says where a script looks that it is
        // not the whole input.
        if (extended()) {
            readError = pcap_geterr(handle);
            std::fflush(stdout);
            std::fprintf(stderr, "PcapEngine: error reading packets: %s\n", readError.c_str());
        }
        break;
    case ReadResult::Interrupted:
        std::fputs("PcapEngine: packet capture interrupted.\n", stdout);
        break;
    case ReadResult::Packet:
    case ReadResult::End: break;
    }
    return 1;
}

bool PcapEngine::decodeExtended(const pcap_pkthdr* delivered, const u_char* data) {
    ++view.packetCount;  // every frame delivered has its number
    deliveredHeader = delivered;
    // A pcap file may store a second's worth of microseconds or more, in an unsigned 32-bit field
    // that libpcap widens with its sign: they are taken as the file states them and carried into
    // the seconds here, once, so that every time the record holds is a time. The dump keeps the
    // record as it was read.
    stampedHeader = *delivered;
    timeval& ts = stampedHeader.ts;
    if (ts.tv_usec < 0 || ts.tv_usec >= 1000000) {
        const std::int64_t micro =
            ts.tv_usec < 0 ? ts.tv_usec + (std::int64_t{1} << 32) : ts.tv_usec;
        ts.tv_sec += static_cast<std::time_t>(micro / 1000000);
        ts.tv_usec = static_cast<suseconds_t>(micro % 1000000);
    }
    const pcap_pkthdr* header = &stampedHeader;
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
        pcap_dump(reinterpret_cast<u_char*>(dumper), delivered, data);
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
