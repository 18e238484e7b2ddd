// PcapEngine::capture: fetch the next record from the reader, decode it into the packet view,
// and in verbose mode print its line; or say why capture stops. With the extended record, the
// record reads each frame, and those it does not analyse are copied to the dump on the way to
// the next one.
#include <cstdio>

#include "capture/PcapEngine.h"
#include "capture/decode.h"
#include "extended/extended_record.h"

namespace tidewrack {

int PcapEngine::capture() {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    do {
        if (const ReadResult result = reader.next(&header, &data); result != ReadResult::Packet) {
            return stop(result);
        }
        deliveredHeader = header;
    } while (!readFrame(header, data));
    ++view.packetsAnalysed;
    if (verbose) {
        printPacketLine();
    }
    return 0;
}

bool PcapEngine::readFrame(const pcap_pkthdr* header, const u_char* data) {
    if (reading.record == nullptr) {
        decodePacket(view, clock, header, data);
        return true;
    }
    switch (reading.record->readFrame(view, clock, header, data, frameFilter)) {
    case ExtendedRecord::Frame::Analysed: return true;
    case ExtendedRecord::Frame::NotAnalysed:
        // The dump receives every frame that the filter admits, analysed or not.
        if (dumper != nullptr) {
            pcap_dump(reinterpret_cast<u_char*>(dumper), header, data);
        }
        return false;
    case ExtendedRecord::Frame::Rejected: break;
    }
    return false;
}

int PcapEngine::stop(ReadResult result) {
    switch (result) {
    case ReadResult::TimedOut:
        std::fputs("PcapEngine: packet capture timeout elapsed.\n", stdout);
        break;
    case ReadResult::Error:
        readErrorText = pcap_geterr(handle);
        std::printf("PcapEngine: error reading packets: %s\n", readErrorText.c_str());
        break;
    case ReadResult::Interrupted:
        std::fputs("PcapEngine: packet capture interrupted.\n", stdout);
        break;
    case ReadResult::Packet:
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
