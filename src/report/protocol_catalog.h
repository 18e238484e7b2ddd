// The protocol names met in the frames tables, each given a small number on first sight.
//
// The frames table names a frame's IP protocol in its ipproto column, as tidewrack's decoder
// names it ("TCP", "UDP", "ICMP", "OSPF", "Any", ...). The report counts by number instead of
// by text: the catalog hands out one number per distinct name, across all databases, and
// knows which of them are TCP, UDP and ICMP, whose frames the report reads further. A table
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

    // The number of `name`, given now if it is new.
    std::uint16_t number(std::string_view name);

    const std::string& name(std::uint16_t number) const { return names[number]; }
    ProtocolKind kind(std::uint16_t number) const { return kinds[number]; }
    std::size_t size() const { return names.size(); }

  private:
    std::vector<std::string> names;
    std::vector<ProtocolKind> kinds;
    std::uint16_t last = 0;  // the number found last: frames often come in runs
};

}  // namespace tidewrack::report
