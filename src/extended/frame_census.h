// The account of every frame of an extended run: how many libpcap delivered and how many were
// analysed, the frames not analysed by kind (ARP, another EtherType, too short to decode,
// malformed IPv6, rejected by the user's filter...), the tagged frames by outer VLAN id, and the
// times of the first and last frame.
//
// Counting a frame costs an addition in a fixed array: every EtherType and every VLAN id has its
// counter from the start, so nothing is allocated or compared per frame, and the census is
// exact however many kinds a capture holds. The arrays (1 MiB in all) are made once, when the
// extended record is asked for, of pages that cost no memory until a count is written there.
#pragma once

#include <pcap/pcap.h>
#include <sys/time.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "capture/link_layer.h"

namespace tidewrack {

struct FrameCounts {
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;  // lengths on the wire

    void add(std::uint32_t length) {
        ++frames;
        bytes += length;
    }
};

class FrameCensus {
  public:
    // Why a frame was not analysed, besides the EtherTypes and address families it may name.
    enum Reason : std::uint8_t {
        MalformedIpv6,  // its header chain runs past the captured bytes
        Arp,
        Llc,
        NotIp,
        OtherVersion,  // of IP than its raw IP link type allows
        TooShort,
        Rejected,  // by the user's filter
        reasonCount,
    };

    FrameCensus();

    // A frame as libpcap delivered it, before anything else is done with it.
    void delivered(const pcap_pkthdr& header) {
        if (deliveredFrames++ == 0) {
            first = header.ts;
        }
        last = header.ts;
    }
    void analysed() { ++analysedFrames; }
    void rejected(std::uint32_t length) { reasons[Rejected].add(length); }
    // A frame whose link layer was read: its VLAN, and, when it is not analysed, its kind.
    void tagged(std::int32_t vlan, std::uint32_t length) {
        if (vlan != untagged) {
            vlans[static_cast<std::size_t>(vlan)].add(length);
        }
    }
    void notAnalysed(const LinkFrame& link, std::uint32_t length);

    struct Kind {
        std::string name;  // "ARP", "EtherType 0x88cc", ...
        FrameCounts counts;
    };
    // The kinds of the frames not analysed, the most frequent first.
    std::vector<Kind> notAnalysedKinds() const;
    FrameCounts notAnalysedTotal() const;
    // The VLAN ids met, ascending, with their counts.
    std::vector<std::pair<int, FrameCounts>> vlanCounts() const;

    std::uint64_t deliveredFrames = 0;
    std::uint64_t analysedFrames = 0;
    timeval first{};  // of the first and the last frame delivered
    timeval last{};

  private:
    static constexpr std::size_t etherTypeCount = 65536, vlanCount = 4096;
    static constexpr std::size_t familyLimit = 256;  // families from here on share a counter

    // Zeroed by calloc, which takes fresh pages for large blocks instead of writing zeros.
    struct Free {
        void operator()(FrameCounts* counts) const { std::free(counts); }
    };
    using Counters = std::unique_ptr<FrameCounts[], Free>;
    static Counters zeroed(std::size_t count);

    std::array<FrameCounts, reasonCount> reasons{};
    Counters etherTypes;
    Counters families;
    Counters vlans;
};

}  // namespace tidewrack
