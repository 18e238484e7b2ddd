// The protocol names met in the frames tables, each given a small number on first sight.
//
// The frames tables name a frame's IP protocol in their ipproto column, as tidewrack's decoder
// names it ("TCP", "UDP", "ICMP", "OSPF", "IPv6-ICMP", ...). The report counts by number
// instead of by text: the catalog hands out one number per distinct name and family (a name of
// FRAMES is IPv4's, one of FRAMES6 IPv6's: "TCP" is two protocols, one of each), across all
// databases, and knows which of them are TCP, UDP and ICMP (ICMP in IPv4, IPv6-ICMP in IPv6),
// whose frames the report reads further. A table
// written by something else could hold any number of odd names; the names past
// maxNames - 1 share the last number, shown as "(other names)", so that memory stays bounded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tidewrack::report {

enum class ProtocolKind : std::uint8_t { Other, Tcp, Udp, Icmp };

class ProtocolCatalog {
  public:
    static constexpr std::size_t maxNames = 1024;

    // The number of `name` in `family` (4 or 6), given now if it is new.
    std::uint16_t number(std::string_view name, std::uint8_t family);

    const std::string& name(std::uint16_t number) const { return names[number]; }
    std::uint8_t family(std::uint16_t number) const { return families[number]; }
    ProtocolKind kind(std::uint16_t number) const { return kinds[number]; }
    std::size_t size() const { return names.size(); }

  private:
    std::vector<std::string> names;
    std::vector<std::uint8_t> families;
    std::vector<ProtocolKind> kinds;
    std::uint16_t last = 0;  // the number found last: frames often come in runs
};

}  // namespace tidewrack::report
