// The decoder: the time text, the IPv4 addresses and protocol, the two port words, the TCP
// flags text, the ICMP texts and the service names of one frame.
#include "capture/decode.h"

#include <cstring>
#include <string_view>

#include "capture/frame_bytes.h"
#include "capture/service_tables.h"

namespace tidewrack {

namespace {

// Copies a constant text into a view buffer; the tables' compile-time checks keep every text
// shorter than its buffer, and a longer one would be cut.
template <std::size_t N>
void copyText(char (&buffer)[N], std::string_view text) {
    const std::size_t n = text.size() < N ? text.size() : N - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// In the IPv4 header.
constexpr std::uint32_t ipProtocolOffset = 9;
constexpr std::uint32_t ipSourceOffset = 12;
constexpr std::uint32_t ipDestinationOffset = 16;
constexpr std::uint32_t tcpFlagsOffset = 13;  // in the TCP header
static_assert(ethernetHeaderLength + ipDestinationOffset + 4 == minimumDecodedLength);

// The decoder of both entry points: inlined into each, so that the classic one reads at offsets
// known when it is compiled.
[[gnu::always_inline]] inline void decodeAt(PacketView& view, LocalTimeText& clock,
                                            const pcap_pkthdr* header, const u_char* data,
                                            std::uint32_t ipOffset) {
    view.header = header;
    view.packetData = data;
    view.captureSeconds = header->ts.tv_sec;
    view.localTime = clock.convert(view.captureSeconds);
    static_assert(sizeof view.timeText == sizeof clock.text());
    std::memcpy(view.timeText, clock.text(), sizeof view.timeText);

    const FrameBytes frame(data, header->caplen);
    view.frameDecoded = frame.has(ipOffset, ipDestinationOffset + 4);
    if (!view.frameDecoded) {
        view.ipHeader = view.transportHeader = nullptr;
        return;
    }
    view.ipHeader = frame.at(ipOffset);
    view.ipHeaderLength = (frame.byte(ipOffset) & 0x0Fu) * 4;
    const std::uint32_t transport = ipOffset + view.ipHeaderLength;
    view.transportHeader = frame.at(transport);
    frame.copy(ipOffset + ipSourceOffset, view.sourceAddress);
    frame.copy(ipOffset + ipDestinationOffset, view.destinationAddress);
    view.sourcePort = frame.word(transport);
    view.destinationPort = frame.word(transport + 2);

    const std::uint8_t protocol = view.protocol = frame.byte(ipOffset + ipProtocolOffset);
    if (protocol < protocolTableSize) {
        view.protocolSeen[protocol] = 1;
    }
    view.protocolName = decoderProtocolName(protocol);
    // The flags byte of a TCP segment whose flags byte was not captured is 0, whose text is
    // empty. The whole entry is copied, terminator and zero fill included: a copy of fixed size
    // is a couple of moves, where one of the text's own length is a call.
    if (protocol == 6) {
        view.tcpFlags = frame.byte(transport + tcpFlagsOffset);
        static_assert(sizeof TcpFlagsText::text <= sizeof view.tcpFlagsText);
        std::memcpy(view.tcpFlagsText, TcpFlagsTexts[view.tcpFlags].text,
                    sizeof TcpFlagsText::text);
    } else {
        view.tcpFlags = 0;
        view.tcpFlagsText[0] = '\0';
    }
    if (protocol == 1 && frame.has(transport, 2)) {
        const IcmpTexts texts = icmpTexts(frame.byte(transport), frame.byte(transport + 1));
        copyText(view.icmpTypeText, texts.type);
        copyText(view.icmpCodeText, texts.code);
    } else {
        view.icmpTypeText[0] = view.icmpCodeText[0] = '\0';
    }
    view.tcpService = tcpServiceName(view.sourcePort);
    view.udpService = udpServiceName(view.destinationPort);
}

}  // namespace

void decodeIpv4(PacketView& view, LocalTimeText& clock, const pcap_pkthdr* header,
                const u_char* data, std::uint32_t ipOffset) {
    decodeAt(view, clock, header, data, ipOffset);
}

void decodePacket(PacketView& view, LocalTimeText& clock, const pcap_pkthdr* header,
                  const u_char* data) {
    ++view.packetCount;
    decodeAt(view, clock, header, data, ethernetHeaderLength);
}

}  // namespace tidewrack
