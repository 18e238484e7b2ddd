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

inline constexpr std::array<std::string_view, 42> IcmpTypeTexts = {
    "ECHO REPLY",                   // 0
    "RESERVED",                     // 1
    "RESERVED",                     // 2
    "DESTINATION UNREACHABLE",      // 3
    "SOURCE QUENCH",                // 4
    "REDIRECT MESSAGE",             // 5
    "ALTERNATE HOST ADDRESS",       // 6
    "RESERVED",                     // 7
    "ECHO REQUEST",                 // 8
    "ROUTER ADVERTISEMENT",         // 9
    "ROUTER SOLICITATION",          // 10
    "TIME EXCEEDED",                // 11
    "BAD IPHEADER",                 // 12
    "TIMESTAMP",                    // 13
    "TIMESTAMP REPLY",              // 14
    "INFORMATION REQUEST",          // 15
    "INFORMATION REPLY",            // 16
    "ADDRESS MASK REQUEST",         // 17
    "ADDRESS MASK REPLY",           // 18
    "RESERVED (SECURITY)",          // 19
    "ROBUSTNESS EXPERIMENT",        // 20
    "ROBUSTNESS EXPERIMENT",        // 21
    "ROBUSTNESS EXPERIMENT",        // 22
    "ROBUSTNESS EXPERIMENT",        // 23
    "ROBUSTNESS EXPERIMENT",        // 24
    "ROBUSTNESS EXPERIMENT",        // 25
    "ROBUSTNESS EXPERIMENT",        // 26
    "ROBUSTNESS EXPERIMENT",        // 27
    "ROBUSTNESS EXPERIMENT",        // 28
    "ROBUSTNESS EXPERIMENT",        // 29
    "TRACEROUTE",                   // 30
    "DATAGRAM CONVERSION ERROR",    // 31
    "MOBILE HOST REDIRECT",         // 32
    "WHERE-ARE-YOU",                // 33
    "HERE-I-AM",                    // 34
    "MOBILE REGISTRATION REQUEST",  // 35
    "MOBILE REGISTRATION REPLY",    // 36
    "DOMAIN NAME REQUEST",          // 37
    "DOMAIN NAME REPLY",            // 38
    "SKIP ALGORITHM DISCOVERY",     // 39
    "PHOTURIS SECURITY FAILURE",    // 40
    "EXPERIMENTAL (MOBILITY)",      // 41
};

inline constexpr std::string_view icmpReservedText = "RESERVED";  // types 42 to 255
inline constexpr std::string_view icmpInvalidCode = "INVALID";    // code missing from a list

// Type 3, destination unreachable: codes 0 to 13.
inline constexpr std::array<std::string_view, 14> IcmpUnreachableCodes = {
    "Destination network unreachable",            // 0
    "Destination host unreachable",               // 1
    "Destination protocol unreachable",           // 2
    "Destination port unreachable",               // 3
    "Fragmentation required and DF flag set",     // 4
    "Source route failed",                        // 5
    "Destination network unknown",                // 6
    "Destination host unknown",                   // 7
    "Source host isolated",                       // 8
    "Network administratively prohibited",        // 9
    "Host administratively prohibited",           // 10
    "Network unreachable for TOS",                // 11
    "Host unreachable for TOS",                   // 12
    "Communication administratively prohibited",  // 13
};

// Type 5, redirect: codes 0 to 3.
inline constexpr std::array<std::string_view, 4> IcmpRedirectCodes = {
    "Redirect Datagram for the Network",        // 0
    "Redirect Datagram for the Host",           // 1
    "Redirect Datagram for the TOS & network",  // 2
    "Redirect Datagram for the TOS & host",     // 3
};

// Type 11, time exceeded: codes 0 and 1.
inline constexpr std::array<std::string_view, 2> IcmpTimeExceededCodes = {
    "TTL expired in transit",             // 0
    "Fragment reassembly time exceeded",  // 1
};

// Type 12, bad IP header: codes 0 to 2.
inline constexpr std::array<std::string_view, 3> IcmpBadHeaderCodes = {
    "Pointer indicates the error",  // 0
    "Missing a required option",    // 1
    "Bad length",                   // 2
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

// ICMP types that report a problem: destination unreachable, redirect, time exceeded, bad
// IP header.
constexpr bool isIcmpError(std::uint8_t type) {
    return type == 3 || type == 5 || type == 11 || type == 12;
}

}  // namespace tidewrack
