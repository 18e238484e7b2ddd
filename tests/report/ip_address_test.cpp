// Addresses of either family as the report's library reads, writes and matches them: what a
// filter of hosts and prefixes compares against. An IPv6 address that maps an IPv4 one is an
// address of IPv6, matched by IPv6 prefixes only.
#include <gtest/gtest.h>

#include "report/ip_address.h"

using tidewrack::report::IpAddress;
using tidewrack::report::ipAddressText;
using tidewrack::report::parseIpAddress;
using tidewrack::report::parseIpPrefix;

namespace {

IpAddress address(const char* text) {
    const auto parsed = parseIpAddress(text);
    EXPECT_TRUE(parsed.has_value()) << text;
    return parsed.value_or(IpAddress{});
}

bool matches(const char* prefix, const char* text) {
    const auto parsed = parseIpPrefix(prefix);
    EXPECT_TRUE(parsed.has_value()) << prefix;
    return parsed && parsed->contains(address(text));
}

std::string roundTrip(const char* text) {
    unsigned char bytes[16];
    const std::size_t size = address(text).bytes(bytes);
    return ipAddressText(std::string_view(reinterpret_cast<const char*>(bytes), size));
}

}  // namespace

TEST(ReportIpAddress, TextsReadAndWriteBackAsTidewrackWritesThem) {
    for (const char* text : {"192.0.2.1", "0.0.0.0", "2001:db8::1", "::", "::1", "::ffff:192.0.2.1",
                             "fe80::1:0:0:1", "2001:db8:0:1:1:1:1:1"}) {
        EXPECT_EQ(roundTrip(text), text);
    }
    EXPECT_EQ(roundTrip("2001:DB8:0:0:0:0:0:1"), "2001:db8::1");
    EXPECT_FALSE(parseIpAddress("2001:db8::g"));
    EXPECT_FALSE(parseIpAddress("192.0.2"));
    EXPECT_LT(address("255.255.255.255"), address("::"));
    EXPECT_NE(address("192.0.2.1"), address("::ffff:192.0.2.1"));
}

TEST(ReportIpAddress, PrefixesMatchTheirOwnFamilyBitByBit) {
    EXPECT_TRUE(matches("10.0.0.0/8", "10.255.0.1"));
    EXPECT_FALSE(matches("10.0.0.0/8", "11.0.0.1"));
    EXPECT_TRUE(matches("10.1.2.3/8", "10.9.9.9"));  // bits past the length are ignored
    EXPECT_TRUE(matches("0.0.0.0/0", "203.0.113.9"));
    EXPECT_FALSE(matches("0.0.0.0/0", "::ffff:203.0.113.9"));
    EXPECT_TRUE(matches("192.0.2.1", "192.0.2.1"));
    EXPECT_FALSE(matches("192.0.2.1", "192.0.2.2"));
    EXPECT_TRUE(matches("2001:db8::/32", "2001:db8:ffff::1"));
    EXPECT_FALSE(matches("2001:db8::/32", "2001:db9::1"));
    EXPECT_TRUE(matches("2001:db8:0:1::/64", "2001:db8:0:1:a:b:c:d"));
    EXPECT_FALSE(matches("2001:db8:0:1::/64", "2001:db8:0:2:a:b:c:d"));
    EXPECT_TRUE(matches("2001:db8::1:0/127", "2001:db8::1:1"));
    EXPECT_FALSE(matches("2001:db8::1:0/127", "2001:db8::1:2"));
    EXPECT_FALSE(matches("::/0", "10.0.0.1"));
    EXPECT_TRUE(matches("::ffff:0:0/96", "::ffff:10.0.0.1"));
    for (const char* wrong :
         {"10.0.0.0/33", "2001:db8::/129", "10.0.0.0/", "10.0.0.0/8x", "10.0.0.0/-1", "host/8"}) {
        EXPECT_FALSE(parseIpPrefix(wrong)) << wrong;
    }
}
