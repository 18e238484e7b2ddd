// Baseline: the least a program can do with each packet of a trace through libpcap. It reads
// every record with pcap_next_ex and takes the IP protocol byte and the two port words (within
// the captured length, through the analyser's length-checked reads), which is what the
// analyser must look at before anything else.
//
// Usage: bare_read_loop <trace.pcap>
// Prints the packet count and a checksum of what was read, so that nothing is optimised away.
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>

#include "capture/frame_bytes.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <trace.pcap>\n", argv[0]);
        return 2;
    }
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* trace = pcap_open_offline(argv[1], error);
    if (trace == nullptr) {
        std::fprintf(stderr, "%s\n", error);
        return 1;
    }
    pcap_pkthdr* header;
    const u_char* data;
    std::uint64_t packets = 0, checksum = 0;
    while (pcap_next_ex(trace, &header, &data) == 1) {
        ++packets;
        const tidewrack::FrameBytes frame(data, header->caplen);
        if (!frame.has(0, 34)) {
            continue;
        }
        const std::uint32_t transport = 14 + (frame.byte(14) & 0x0Fu) * 4;
        checksum += frame.byte(23) + frame.word(transport) + frame.word(transport + 2);
    }
    pcap_close(trace);
    std::printf("%llu packets, checksum %llu\n", static_cast<unsigned long long>(packets),
                static_cast<unsigned long long>(checksum));
    return 0;
}
