// Reading and writing addresses of either family, and matching them against prefixes.
#include "report/ip_address.h"

#include <arpa/inet.h>

#include <charconv>

namespace tidewrack::report {

namespace {

// The mask of the first `bits` bits of a 64-bit word, for bits from 0 to 64.
constexpr std::uint64_t leadingBits(int bits) {
    return bits <= 0 ? 0 : bits >= 64 ? ~std::uint64_t{0} : ~std::uint64_t{0} << (64 - bits);
}
static_assert(leadingBits(0) == 0 && leadingBits(8) == 0xFF00000000000000u &&
              leadingBits(64) == ~std::uint64_t{0});

}  // namespace

std::optional<IpAddress> parseIpAddress(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    unsigned char bytes[16];
    if (inet_pton(AF_INET, text, bytes) == 1) {
        return IpAddress::v4(std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                             std::uint32_t{bytes[2]} << 8 | bytes[3]);
    }
    if (inet_pton(AF_INET6, text, bytes) == 1) {
        return IpAddress::v6(bytes);
    }
    return std::nullopt;
}

std::string ipAddressText(std::string_view bytes) {
    char text[INET6_ADDRSTRLEN];
    const int family = bytes.size() == 4 ? AF_INET : bytes.size() == 16 ? AF_INET6 : 0;
    if (family == 0 || inet_ntop(family, bytes.data(), text, sizeof text) == nullptr) {
        return "?";
    }
    return text;
}

bool IpPrefix::contains(const IpAddress& a) const {
    if (a.family != address.family) {
        return false;
    }
    if (a.family == 4) {
        return (a.low & (leadingBits(length) >> 32)) == address.low;
    }
    return (a.high & leadingBits(length)) == address.high &&
           (a.low & leadingBits(length - 64)) == address.low;
}

std::optional<IpPrefix> parseIpPrefix(std::string_view text) {
    const std::size_t slash = text.find('/');
    const std::string addressText(text.substr(0, slash));
    std::optional<IpAddress> address = parseIpAddress(addressText.c_str());
    if (!address) {
        return std::nullopt;
    }
    const int bits = address->family == 4 ? 32 : 128;
    int length = bits;
    if (slash != std::string_view::npos) {
        const std::string_view digits = text.substr(slash + 1);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), length);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
            length < 0 || length > bits) {
            return std::nullopt;
        }
    }
    IpPrefix prefix{*address, length};
    if (address->family == 4) {
        prefix.address.low &= leadingBits(length) >> 32;
    } else {
        prefix.address.high &= leadingBits(length);
        prefix.address.low &= leadingBits(length - 64);
    }
    return prefix;
}

}  // namespace tidewrack::report
