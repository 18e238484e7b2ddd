// Texts of ICMP messages, as constant data checked by the compiler.
//
// Every ICMP type has a type text; types 42 to 255 share "RESERVED". Four types carry a code
// list (3 destination unreachable, 5 redirect, 11 time exceeded, 12 bad IP header): their code
// text is looked up by code, "INVALID" for a code not in the list. Every other type's code
// text is its type text again, whatever the code. Lookups index arrays directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tidewrack {

using namespace std::string_view_literals;

inline constexpr std::array<std::string_view, 42> IcmpTypeTexts = {
    "ECHO REPLY"sv,                   // 0
    "RESERVED"sv,                     // 1
    "RESERVED"sv,                     // 2
    "DESTINATION UNREACHABLE"sv,      // 3
    "SOURCE QUENCH"sv,                // 4
    "REDIRECT MESSAGE"sv,             // 5
    "ALTERNATE HOST ADDRESS"sv,       // 6
    "RESERVED"sv,                     // 7
    "ECHO REQUEST"sv,                 // 8
    "ROUTER ADVERTISEMENT"sv,         // 9
    "ROUTER SOLICITATION"sv,          // 10
    "TIME EXCEEDED"sv,                // 11
    "BAD IPHEADER"sv,                 // 12
    "TIMESTAMP"sv,                    // 13
    "TIMESTAMP REPLY"sv,              // 14
    "INFORMATION REQUEST"sv,          // 15
    "INFORMATION REPLY"sv,            // 16
    "ADDRESS MASK REQUEST"sv,         // 17
    "ADDRESS MASK REPLY"sv,           // 18
    "RESERVED (SECURITY)"sv,          // 19
    "ROBUSTNESS EXPERIMENT"sv,        // 20
    "ROBUSTNESS EXPERIMENT"sv,        // 21
    "ROBUSTNESS EXPERIMENT"sv,        // 22
    "ROBUSTNESS EXPERIMENT"sv,        // 23
    "ROBUSTNESS EXPERIMENT"sv,        // 24
    "ROBUSTNESS EXPERIMENT"sv,        // 25
    "ROBUSTNESS EXPERIMENT"sv,        // 26
    "ROBUSTNESS EXPERIMENT"sv,        // 27
    "ROBUSTNESS EXPERIMENT"sv,        // 28
    "ROBUSTNESS EXPERIMENT"sv,        // 29
    "TRACEROUTE"sv,                   // 30
    "DATAGRAM CONVERSION ERROR"sv,    // 31
    "MOBILE HOST REDIRECT"sv,         // 32
    "WHERE-ARE-YOU"sv,                // 33
    "HERE-I-AM"sv,                    // 34
    "MOBILE REGISTRATION REQUEST"sv,  // 35
    "MOBILE REGISTRATION REPLY"sv,    // 36
    "DOMAIN NAME REQUEST"sv,          // 37
    "DOMAIN NAME REPLY"sv,            // 38
    "SKIP ALGORITHM DISCOVERY"sv,     // 39
    "PHOTURIS SECURITY FAILURE"sv,    // 40
    "EXPERIMENTAL (MOBILITY)"sv,      // 41
};

inline constexpr std::string_view icmpReservedText = "RESERVED"sv;  // types 42 to 255
inline constexpr std::string_view icmpInvalidCode = "INVALID"sv;    // code missing from a list

// Type 3, destination unreachable: codes 0 to 13.
inline constexpr std::array<std::string_view, 14> IcmpUnreachableCodes = {
    "Destination network unreachable"sv,            // 0
    "Destination host unreachable"sv,               // 1
    "Destination protocol unreachable"sv,           // 2
    "Destination port unreachable"sv,               // 3
    "Fragmentation required and DF flag set"sv,     // 4
    "Source route failed"sv,                        // 5
    "Destination network unknown"sv,                // 6
    "Destination host unknown"sv,                   // 7
    "Source host isolated"sv,                       // 8
    "Network administratively prohibited"sv,        // 9
    "Host administratively prohibited"sv,           // 10
    "Network unreachable for TOS"sv,                // 11
    "Host unreachable for TOS"sv,                   // 12
    "Communication administratively prohibited"sv,  // 13
};

// Type 5, redirect: codes 0 to 3.
inline constexpr std::array<std::string_view, 4> IcmpRedirectCodes = {
    "Redirect Datagram for the Network"sv,        // 0
    "Redirect Datagram for the Host"sv,           // 1
    "Redirect Datagram for the TOS & network"sv,  // 2
    "Redirect Datagram for the TOS & host"sv,     // 3
};

// Type 11, time exceeded: codes 0 and 1.
inline constexpr std::array<std::string_view, 2> IcmpTimeExceededCodes = {
    "TTL expired in transit"sv,             // 0
    "Fragment reassembly time exceeded"sv,  // 1
};

// Type 12, bad IP header: codes 0 to 2.
inline constexpr std::array<std::string_view, 3> IcmpBadHeaderCodes = {
    "Pointer indicates the error"sv,  // 0
    "Missing a required option"sv,    // 1
    "Bad length"sv,                   // 2
};

// Room the decoder keeps for each text, terminator included.
inline constexpr std::size_t icmpTypeTextSize = 40;
inline constexpr std::size_t icmpCodeTextSize = 80;

namespace detail {

template <std::size_t N>
constexpr std::size_t longest(const std::array<std::string_view, N>& texts) {
    std::size_t n = 0;
    for (auto t : texts) {
        n = t.size() > n ? t.size() : n;
    }
    return n;
}

template <std::size_t N>
constexpr std::string_view codeText(const std::array<std::string_view, N>& codes,
                                    std::uint8_t code) {
    return code < N ? codes[code] : icmpInvalidCode;
}

}  // namespace detail

static_assert(detail::longest(IcmpTypeTexts) == 27, "longest type text is 27 characters");
static_assert(detail::longest(IcmpUnreachableCodes) == 41, "longest code text is 41 characters");
static_assert(detail::longest(IcmpTypeTexts) < icmpTypeTextSize);
static_assert(detail::longest(IcmpUnreachableCodes) < icmpCodeTextSize &&
              detail::longest(IcmpRedirectCodes) < icmpCodeTextSize &&
              detail::longest(IcmpTimeExceededCodes) < icmpCodeTextSize &&
              detail::longest(IcmpBadHeaderCodes) < icmpCodeTextSize &&
              detail::longest(IcmpTypeTexts) < icmpCodeTextSize);

struct IcmpTexts {
    std::string_view type;
    std::string_view code;
};

// The type text and the code text of an ICMP message.
constexpr IcmpTexts icmpTexts(std::uint8_t type, std::uint8_t code) {
    if (type >= IcmpTypeTexts.size()) {
        return {icmpReservedText, icmpReservedText};
    }
    const std::string_view typeText = IcmpTypeTexts[type];
    switch (type) {
    case 3: return {typeText, detail::codeText(IcmpUnreachableCodes, code)};
    case 5: return {typeText, detail::codeText(IcmpRedirectCodes, code)};
    case 11: return {typeText, detail::codeText(IcmpTimeExceededCodes, code)};
    case 12: return {typeText, detail::codeText(IcmpBadHeaderCodes, code)};
    default: return {typeText, typeText};
    }
}

static_assert(icmpTexts(3, 14).code == "INVALID" && icmpTexts(255, 0).type == "RESERVED");

}  // namespace tidewrack
