// IPv6 addresses as text, as RFC 5952 writes them and tshark prints them: lowercase hexadecimal
// groups without leading zeros, the longest run of two or more zero groups (the first of equal
// runs) written "::", and the last 32 bits dotted in an IPv4-mapped address (::ffff:192.0.2.1)
// or an IPv4-compatible one (::192.0.2.1).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tidewrack {

// The longest text, "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255" cannot occur (the dotted
// forms start with "::"), with its terminator.
inline constexpr std::size_t ipv6TextSize = 46;

// Writes the text of the 16 address bytes into `text`, terminated; returns its length.
std::size_t formatIpv6(const std::uint8_t (&address)[16], char (&text)[ipv6TextSize]);

}  // namespace tidewrack
