// An IP address as the report keeps it, of either family: IPv4 from the four byte columns of
// FRAMES, IPv6 from the text columns of FRAMES6. The family is part of the address, so that an
// IPv6 address that maps an IPv4 one (::ffff:192.0.2.1) stays apart from that IPv4 address, as
// it is on the wire. The bytes are two 64-bit words, the first byte highest: an address hashes
// and compares at once, and addresses order as their bytes do, every IPv4 one before every
// IPv6 one. The store keeps an address as a BLOB of its 4 or 16 bytes, so that its length
// tells its family there.
//
// A prefix (10.0.0.0/8, 2001:db8::/32) matches the addresses of its family whose first bits
// are its own.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tidewrack::report {

struct IpAddress {
    std::uint8_t family = 4;  // 4 or 6
    std::uint64_t high = 0;   // IPv6: bytes 0 to 7; IPv4: 0
    std::uint64_t low = 0;    // IPv6: bytes 8 to 15; IPv4: the four bytes

    auto operator<=>(const IpAddress&) const = default;

    static IpAddress v4(std::uint32_t value) { return {4, 0, value}; }
    static IpAddress v6(const unsigned char (&bytes)[16]) {
        IpAddress address{6, 0, 0};
        for (int i = 0; i < 8; ++i) {
            address.high = address.high << 8 | bytes[i];
            address.low = address.low << 8 | bytes[8 + i];
        }
        return address;
    }

    // The address in network order, as the store keeps it: 4 or 16 bytes of `out`, their count
    // returned.
    std::size_t bytes(unsigned char (&out)[16]) const {
        if (family == 4) {
            for (int i = 0; i < 4; ++i) {
                out[i] = static_cast<unsigned char>(low >> (24 - 8 * i));
            }
            return 4;
        }
        for (int i = 0; i < 8; ++i) {
            out[i] = static_cast<unsigned char>(high >> (56 - 8 * i));
            out[8 + i] = static_cast<unsigned char>(low >> (56 - 8 * i));
        }
        return 16;
    }
};

// The address of IPv4 dotted text or IPv6 text; nothing for any other text.
std::optional<IpAddress> parseIpAddress(const char* text);

// The address as text: dotted for IPv4, RFC 5952 for IPv6 (as tidewrack and tshark write it),
// from the 4 or 16 bytes the store keeps; "?" for any other length.
std::string ipAddressText(std::string_view bytes);

struct IpPrefix {
    IpAddress address;  // its bits past `length` are zero
    int length = 0;     // in bits: up to 32 for IPv4, 128 for IPv6

    bool contains(const IpAddress& a) const;
};

// "10.0.0.0/8", "2001:db8::/32", or an address alone (all its bits); nothing for a text that
// is none of these or whose length is past its family's.
std::optional<IpPrefix> parseIpPrefix(std::string_view text);

}  // namespace tidewrack::report
