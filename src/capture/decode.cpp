// The decoder: the time text, the IPv4 addresses and protocol, the two port words, the TCP
// flags text, the ICMP texts and the service names of one frame.
#include "capture/decode.h"

#include <cstring>
#include <string_view>

#include "capture/frame_bytes.h"
#include "vocabulary/service_tables.h"

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
// The packet's libpcap header and bytes, and its capture time.
[[gnu::always_inline]] inline void stamp(PacketView& view, LocalTimeText& clock,
                                         const pcap_pkthdr* header, const u_char* data) {
    view.header = header;
    view.packetData = data;
    view.captureSeconds = header->ts.tv_sec;
    view.localTime = clock.convert(view.captureSeconds);
    static_assert(sizeof view.timeText == sizeof clock.text());
    std::memcpy(view.timeText, clock.text(), sizeof view.timeText);
}

// The TCP flags byte of a segment and its text; none for other protocols.
[[gnu::always_inline]] inline void setTcpFlags(PacketView& view, const FrameBytes& frame,
                                               std::uint8_t protocol, std::uint32_t transport) {
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
}

[[gnu::always_inline]] inline void decodeAt(PacketView& view, LocalTimeText& clock,
                                            const pcap_pkthdr* header, const u_char* data,
                                            std::uint32_t ipOffset) {
    stamp(view, clock, header, data);

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
    setTcpFlags(view, frame, protocol, transport);
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

// IPv6: the fixed header, and the extension headers that may follow it, each naming the next.
constexpr std::uint32_t ipv6HeaderLength = 40;
constexpr std::uint32_t ipv6NextHeaderOffset = 6, ipv6SourceOffset = 8, ipv6DestinationOffset = 24;

enum Ipv6Header : std::uint8_t {
    hopByHop = 0,
    routing = 43,
    fragment = 44,
    authentication = 51,
    destinationOptions = 60,
    mobility = 135,
    hostIdentity = 139,
    shim6 = 140,
};

// The length of the extension header `kind` at `at`, or 0 when `kind` is an upper-layer header.
std::uint32_t extensionLength(std::uint8_t kind, const FrameBytes& frame, std::uint32_t at) {
    switch (kind) {
    case hopByHop:
    case routing:
    case destinationOptions:
    case mobility:
    case hostIdentity:
    case shim6: return (frame.byte(at + 1) + 1u) * 8;  // in 8-byte units, the first not counted
    case fragment: return 8;
    case authentication: return (frame.byte(at + 1) + 2u) * 4;  // in 4-byte units, less two
    default: return 0;
    }
}

}  // namespace

bool decodeIpv6(PacketView& view, LocalTimeText& clock, const pcap_pkthdr* header,
                const u_char* data, std::uint32_t ipv6Offset) {
    stamp(view, clock, header, data);
    const FrameBytes frame(data, header->caplen);
    view.frameDecoded = view.ipv6 = frame.has(ipv6Offset, ipv6HeaderLength);
    if (!view.frameDecoded) {
        return false;
    }
    view.ipHeader = frame.at(ipv6Offset);
    std::uint8_t next = frame.byte(ipv6Offset + ipv6NextHeaderOffset);
    std::uint32_t at = ipv6Offset + ipv6HeaderLength;
    bool upperLayer = true;  // a fragment after the first carries none
    // However many headers there are, each takes 8 bytes at least, so the walk ends within the
    // captured bytes.
    for (std::uint32_t length; (length = extensionLength(next, frame, at)) != 0; at += length) {
        // Each header's own length must have been captured, and then the whole header.
        if (!frame.has(at, 2) || !frame.has(at, length)) {
            view.frameDecoded = false;
            return false;
        }
        const bool laterFragment = next == fragment && (frame.word(at + 2) & 0xFFF8u) != 0;
        next = frame.byte(at);
        if (laterFragment) {
            upperLayer = false;
            at += length;
            break;
        }
    }
    view.upperLayer = upperLayer;
    view.ipHeaderLength = at - ipv6Offset;
    view.transportHeader = frame.at(at);
    view.protocol = next;
    view.protocolName = decoderProtocolName(next);
    view.sourcePort = upperLayer ? frame.word(at) : 0;
    view.destinationPort = upperLayer ? frame.word(at + 2) : 0;
    setTcpFlags(view, frame, upperLayer ? next : 0, at);
    view.icmpTypeText[0] = view.icmpCodeText[0] = '\0';
    view.tcpService = tcpServiceName(view.sourcePort);
    view.udpService = udpServiceName(view.destinationPort);
    std::uint8_t address[16];
    frame.copy(ipv6Offset + ipv6SourceOffset, address);
    formatIpv6(address, view.sourceText);
    frame.copy(ipv6Offset + ipv6DestinationOffset, address);
    formatIpv6(address, view.destinationText);
    return true;
}

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
