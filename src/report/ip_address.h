// An IP address as the report keeps it. IPv4 today: the four bytes in one 32-bit word, the
// first byte highest, so that an address hashes and compares at once and orders as its bytes
// do. The tally's keys and its store hold addresses through this type, and cells show them
// through cell_text.cpp: a wider address changes those two places.
#pragma once

#include <array>
#include <compare>
#include <cstdint>

namespace tidewrack::report {

struct IpAddress {
    std::uint32_t value = 0;

    auto operator<=>(const IpAddress&) const = default;

    // The address in network order, as the store keeps it.
    std::array<unsigned char, 4> bytes() const {
        return {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    }
};

}  // namespace tidewrack::report
