// Decoding one captured frame into the packet view.
//
// Every frame is taken as Ethernet carrying IPv4: the IPv4 header starts 14 bytes in (or where
// the link layer of the extended record found it), and the transport header follows it at the
// header length it declares. Nothing in the frame is
// validated, and nothing is read past its captured length: a frame shorter than the IPv4
// addresses is counted and not decoded, and a port, flags byte or ICMP type and code that was
// not captured reads as 0 or an empty text. Decoding allocates nothing, prints nothing and
// compares no text: names come by index from constant tables.
#pragma once

#include <pcap/pcap.h>

#include "capture/local_time_text.h"
#include "capture/packet_view.h"

namespace tidewrack {

// Fills the view from a packet's libpcap header and captured bytes, whose IPv4 header starts
// `ipOffset` bytes into the frame, with `clock` turning the timestamp into local time. The
// packet is not counted.
void decodeIpv4(PacketView& view, LocalTimeText& clock, const pcap_pkthdr* header,
                const u_char* data, std::uint32_t ipOffset);

// Fills the view from an IPv6 packet whose header starts `ipv6Offset` bytes into the frame: the
// addresses as text, the upper-layer protocol after the extension headers, and its first two
// words as the ports (0 for a fragment after the first, which has no upper-layer header); false,
// with the view partly filled, when the header chain runs past the captured bytes. The packet is
// not counted, nor its protocol marked as seen.
bool decodeIpv6(PacketView& view, LocalTimeText& clock, const pcap_pkthdr* header,
                const u_char* data, std::uint32_t ipv6Offset);

// Counts the packet in `view` and decodes it as an Ethernet frame carrying IPv4.
void decodePacket(PacketView& view, LocalTimeText& clock, const pcap_pkthdr* header,
                  const u_char* data);

}  // namespace tidewrack
