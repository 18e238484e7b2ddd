// Numbering the protocol names of the frames tables.
#include "report/protocol_catalog.h"

namespace tidewrack::report {

std::uint16_t ProtocolCatalog::number(std::string_view name, std::uint8_t family) {
    if (last < names.size() && families[last] == family && names[last] == name) {
        return last;
    }
    // A handful of names in any real capture: a look along the list beats hashing the text.
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (families[i] == family && names[i] == name) {
            return last = static_cast<std::uint16_t>(i);
        }
    }
    if (names.size() >= maxNames - 1) {
        if (names.size() == maxNames - 1) {
            names.emplace_back("(other names)");
            families.push_back(4);
            kinds.push_back(ProtocolKind::Other);
        }
        return last = static_cast<std::uint16_t>(maxNames - 1);
    }
    names.emplace_back(name);
    families.push_back(family);
    kinds.push_back(name == "TCP"                                  ? ProtocolKind::Tcp
                    : name == "UDP"                                ? ProtocolKind::Udp
                    : name == (family == 6 ? "IPv6-ICMP" : "ICMP") ? ProtocolKind::Icmp
                                                                   : ProtocolKind::Other);
    return last = static_cast<std::uint16_t>(names.size() - 1);
}

}  // namespace tidewrack::report
