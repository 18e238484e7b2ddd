// Counting the frames not analysed, and listing them at the end of the run.
#include "extended/frame_census.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace tidewrack {

namespace {

constexpr const char* reasonNames[] = {
    "malformed IPv6",
    "ARP",
    "LLC",
    "not IP",
    "IP version not of the link type",
    "too short to decode",
    "rejected by the filter",
};
static_assert(std::size(reasonNames) == FrameCensus::reasonCount);

}  // namespace

FrameCensus::Counters FrameCensus::zeroed(std::size_t count) {
    auto* counts = static_cast<FrameCounts*>(std::calloc(count, sizeof(FrameCounts)));
    if (counts == nullptr) {
        throw std::bad_alloc();
    }
    return Counters(counts);
}

FrameCensus::FrameCensus()
    : etherTypes(zeroed(etherTypeCount)), families(zeroed(familyLimit)), vlans(zeroed(vlanCount)) {}

void FrameCensus::notAnalysed(const LinkFrame& link, std::uint32_t length) {
    switch (link.kind) {
    case NetworkKind::Ipv4: reasons[TooShort].add(length); break;  // its header was not captured
    case NetworkKind::Ipv6: reasons[MalformedIpv6].add(length); break;
    case NetworkKind::Arp: reasons[Arp].add(length); break;
    case NetworkKind::EtherType: etherTypes[link.value & 0xFFFFu].add(length); break;
    case NetworkKind::Llc: reasons[Llc].add(length); break;
    case NetworkKind::AddressFamily:
        families[std::min<std::size_t>(link.value, familyLimit - 1)].add(length);
        break;
    case NetworkKind::NotIp: reasons[NotIp].add(length); break;
    case NetworkKind::OtherVersion: reasons[OtherVersion].add(length); break;
    case NetworkKind::TooShort: reasons[TooShort].add(length); break;
    }
}

std::vector<FrameCensus::Kind> FrameCensus::notAnalysedKinds() const {
    std::vector<Kind> kinds;
    for (std::size_t i = 0; i < reasons.size(); ++i) {
        if (reasons[i].frames > 0) {
            kinds.push_back({reasonNames[i], reasons[i]});
        }
    }
    char name[48];
    for (std::size_t type = 0; type < etherTypeCount; ++type) {
        if (etherTypes[type].frames > 0) {
            std::snprintf(name, sizeof name, "EtherType 0x%04zx", type);
            kinds.push_back({name, etherTypes[type]});
        }
    }
    for (std::size_t family = 0; family < familyLimit; ++family) {
        if (families[family].frames > 0) {
            std::snprintf(name, sizeof name,
                          family + 1 < familyLimit ? "address family %zu"
                                                   : "address family %zu or above",
                          family);
            kinds.push_back({name, families[family]});
        }
    }
    std::stable_sort(kinds.begin(), kinds.end(), [](const Kind& a, const Kind& b) {
        return a.counts.frames > b.counts.frames;
    });
    return kinds;
}

FrameCounts FrameCensus::notAnalysedTotal() const {
    FrameCounts total;
    for (const Kind& kind : notAnalysedKinds()) {
        total.frames += kind.counts.frames;
        total.bytes += kind.counts.bytes;
    }
    return total;
}

std::vector<std::pair<int, FrameCounts>> FrameCensus::vlanCounts() const {
    std::vector<std::pair<int, FrameCounts>> met;
    for (std::size_t id = 0; id < vlanCount; ++id) {
        if (vlans[id].frames > 0) {
            met.emplace_back(static_cast<int>(id), vlans[id]);
        }
    }
    return met;
}

}  // namespace tidewrack
