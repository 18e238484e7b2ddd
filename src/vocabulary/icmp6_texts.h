// Texts of the common ICMPv6 messages (RFC 4443, 4861, 2710, 3810), as constant data checked by
// the compiler, beside the ICMP texts of icmp_texts.h and named alike. ICMPv6 numbers its types
// apart from ICMP's, so its messages are named from this table and never from ICMP's: an ICMPv6
// type 3 is a time exceeded, an ICMP type 3 a destination unreachable.
//
// A named type has a type text; the four error types (1 to 4) carry a code list, whose text is
// looked up by code, "INVALID" for a code not in the list, and every other named type's code
// text is its type text again, as for ICMP. A type not named here has no text: the report shows
// its numbers only.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tidewrack {

struct Icmp6Type {
    std::uint8_t type;
    std::string_view text;
};

inline constexpr std::array<Icmp6Type, 19> Icmp6TypeTexts = {{
    {1, "DESTINATION UNREACHABLE"},
    {2, "PACKET TOO BIG"},
    {3, "TIME EXCEEDED"},
    {4, "PARAMETER PROBLEM"},
    {128, "ECHO REQUEST"},
    {129, "ECHO REPLY"},
    {130, "MULTICAST LISTENER QUERY"},
    {131, "MULTICAST LISTENER REPORT"},
    {132, "MULTICAST LISTENER DONE"},
    {133, "ROUTER SOLICITATION"},
    {134, "ROUTER ADVERTISEMENT"},
    {135, "NEIGHBOR SOLICITATION"},
    {136, "NEIGHBOR ADVERTISEMENT"},
    {137, "REDIRECT MESSAGE"},
    {138, "ROUTER RENUMBERING"},
    {139, "NODE INFORMATION QUERY"},
    {140, "NODE INFORMATION RESPONSE"},
    {141, "INVERSE NEIGHBOR SOLICITATION"},
    {143, "MULTICAST LISTENER REPORT V2"},
}};

// Type 1, destination unreachable: codes 0 to 8.
inline constexpr std::array<std::string_view, 9> Icmp6UnreachableCodes = {
    "No route to destination",                                     // 0
    "Communication with destination administratively prohibited",  // 1
    "Beyond scope of source address",                              // 2
    "Address unreachable",                                         // 3
    "Port unreachable",                                            // 4
    "Source address failed ingress/egress policy",                 // 5
    "Reject route to destination",                                 // 6
    "Error in source routing header",                              // 7
    "Headers too long",                                            // 8
};

// Type 3, time exceeded.
inline constexpr std::array<std::string_view, 2> Icmp6TimeExceededCodes = {
    "Hop limit exceeded in transit",      // 0
    "Fragment reassembly time exceeded",  // 1
};

// Type 4, parameter problem.
inline constexpr std::array<std::string_view, 4> Icmp6ParameterProblemCodes = {
    "Erroneous header field encountered",               // 0
    "Unrecognized next header type encountered",        // 1
    "Unrecognized IPv6 option encountered",             // 2
    "First fragment has incomplete IPv6 header chain",  // 3
};

// ICMPv6 types that report a problem: destination unreachable, packet too big, time exceeded,
// parameter problem.
constexpr bool isIcmp6Error(std::uint8_t type) {
    return type >= 1 && type <= 4;
}

struct Icmp6Texts {
    std::string_view type;  // empty for a type not named
    std::string_view code;
};

constexpr Icmp6Texts icmp6Texts(std::uint8_t type, std::uint8_t code) {
    std::string_view typeText;
    for (const Icmp6Type& t : Icmp6TypeTexts) {
        if (t.type == type) {
            typeText = t.text;
        }
    }
    const auto codeText = [code](const auto& codes) {
        return code < codes.size() ? codes[code] : std::string_view("INVALID");
    };
    switch (type) {
    case 1: return {typeText, codeText(Icmp6UnreachableCodes)};
    case 3: return {typeText, codeText(Icmp6TimeExceededCodes)};
    case 4: return {typeText, codeText(Icmp6ParameterProblemCodes)};
    default: return {typeText, typeText};
    }
}

static_assert(
    [] {
        for (std::size_t i = 1; i < Icmp6TypeTexts.size(); ++i) {
            if (Icmp6TypeTexts[i - 1].type >= Icmp6TypeTexts[i].type) {
                return false;
            }
        }
        return true;
    }(),
    "the types ascend, each once");
static_assert(icmp6Texts(1, 4).code == "Port unreachable" && icmp6Texts(3, 2).code == "INVALID" &&
              icmp6Texts(135, 0).code == "NEIGHBOR SOLICITATION" &&
              icmp6Texts(200, 0).type.empty());

}  // namespace tidewrack
