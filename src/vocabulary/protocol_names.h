// Names of the IP protocols, as constant data checked by the compiler.
//
// ProtocolNameTable names protocol numbers 0 to 140 after the IANA registry, plus entry 141
// "UNASSIGNED" for every number above 140. Its entries become the names of the per-protocol
// database tables ("<name>_raw" and the flow table "<name>"), so spelling, case, punctuation
// and blanks matter: entry 114 ends in a blank on purpose.
//
// DecoderProtocolNameTable is what the decoder shows and stores for a packet's protocol byte.
// It covers all 256 values and differs from ProtocolNameTable in five entries: 63, 68, 99 and
// 114 read "Any", 136 reads "UDP"; 141 to 255 read "UNASSIGNED".
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tidewrack {

inline constexpr int protocolTableSize = 142;   // numbers 0 to 140, and 141 for the rest
inline constexpr int unassignedProtocol = 141;  // entry shared by every number above 140

inline constexpr std::array<const char*, protocolTableSize> ProtocolNameTable = {
    "HOPOPT",                         // 0
    "ICMP",                           // 1
    "IGMP",                           // 2
    "GGP",                            // 3
    "IP",                             // 4
    "ST",                             // 5
    "TCP",                            // 6
    "CBT",                            // 7
    "EGP",                            // 8
    "IGP",                            // 9
    "BBN-RCC-MON",                    // 10
    "NVP-II",                         // 11
    "PUP",                            // 12
    "ARGUS",                          // 13
    "EMCON",                          // 14
    "XNET",                           // 15
    "CHAOS",                          // 16
    "UDP",                            // 17
    "MUX",                            // 18
    "DCN-MEAS",                       // 19
    "HMP",                            // 20
    "PRM",                            // 21
    "XNS-IDP",                        // 22
    "TRUNK-1",                        // 23
    "TRUNK-2",                        // 24
    "LEAF-1",                         // 25
    "LEAF-2",                         // 26
    "RDP",                            // 27
    "IRTP",                           // 28
    "ISO-TP4",                        // 29
    "NETBLT",                         // 30
    "MFE-NSP",                        // 31
    "MERIT-INP",                      // 32
    "DCCP",                           // 33
    "3PC",                            // 34
    "IDPR",                           // 35
    "XTP",                            // 36
    "DDP",                            // 37
    "IDPR-CMTP",                      // 38
    "TP++",                           // 39
    "IL",                             // 40
    "IPv6",                           // 41
    "SDRP",                           // 42
    "IPv6-Route",                     // 43
    "IPv6-Frag",                      // 44
    "IDRP",                           // 45
    "RSVP",                           // 46
    "GRE",                            // 47
    "MHRP",                           // 48
    "BNA",                            // 49
    "ESP",                            // 50
    "AH",                             // 51
    "I-NLSP",                         // 52
    "SWIPE",                          // 53
    "NARP",                           // 54
    "MOBILE",                         // 55
    "TLSP",                           // 56
    "SKIP",                           // 57
    "IPv6-ICMP",                      // 58
    "IPv6-NoNxt",                     // 59
    "IPv6-Opts",                      // 60
    "Any",                            // 61
    "CFTP",                           // 62
    "Any_local_network",              // 63
    "SAT-EXPAK",                      // 64
    "KRYPTOLAN",                      // 65
    "RVD",                            // 66
    "IPPC",                           // 67
    "Any_distributed_file_system",    // 68
    "SAT-MON",                        // 69
    "VISA",                           // 70
    "IPCV",                           // 71
    "CPNX",                           // 72
    "CPHB",                           // 73
    "WSN",                            // 74
    "PVP",                            // 75
    "BR-SAT-MON",                     // 76
    "SUN-ND",                         // 77
    "WB-MON",                         // 78
    "WB-EXPAK",                       // 79
    "ISO-IP",                         // 80
    "VMTP",                           // 81
    "SECURE-VMTP",                    // 82
    "VINES",                          // 83
    "TTP",                            // 84
    "NSFNET-IGP",                     // 85
    "DGP",                            // 86
    "TCF",                            // 87
    "EIGRP",                          // 88
    "OSPF",                           // 89
    "Sprite-RPC",                     // 90
    "LARP",                           // 91
    "MTP",                            // 92
    "AX.25",                          // 93
    "IPIP",                           // 94
    "MICP",                           // 95
    "SCC-SP",                         // 96
    "ETHERIP",                        // 97
    "ENCAP",                          // 98
    "Any_private_encryption_scheme",  // 99
    "GMTP",                           // 100
    "IFMP",                           // 101
    "PNNI",                           // 102
    "PIM",                            // 103
    "ARIS",                           // 104
    "SCPS",                           // 105
    "QNX",                            // 106
    "A/N",                            // 107
    "IPComp",                         // 108
    "SNP",                            // 109
    "Compaq-Peer",                    // 110
    "IPX-in-IP",                      // 111
    "VRRP",                           // 112
    "PGM",                            // 113
    "Any_0-hop ",                     // 114
    "L2TP",                           // 115
    "DDX",                            // 116
    "IATP",                           // 117
    "STP",                            // 118
    "SRP",                            // 119
    "UTI",                            // 120
    "SMP",                            // 121
    "SM",                             // 122
    "PTP",                            // 123
    "IS-IS",                          // 124
    "FIRE",                           // 125
    "CRTP",                           // 126
    "CRUDP",                          // 127
    "SSCOPMCE",                       // 128
    "IPLT",                           // 129
    "SPS",                            // 130
    "PIPE",                           // 131
    "SCTP",                           // 132
    "FC",                             // 133
    "RSVP-E2E-IGNORE",                // 134
    "Mobility",                       // 135
    "UDP_Lite",                       // 136
    "MPLS-in-IP",                     // 137
    "MANET",                          // 138
    "HIP",                            // 139
    "SHIM6",                          // 140
    "UNASSIGNED",                     // 141
};

namespace detail {

constexpr std::array<const char*, 256> makeDecoderProtocolNames() {
    std::array<const char*, 256> names{};
    for (int p = 0; p < 256; ++p) {
        names[p] = ProtocolNameTable[p < unassignedProtocol ? p : unassignedProtocol];
    }
    names[63] = names[68] = names[99] = names[114] = "Any";
    names[136] = "UDP";
    return names;
}

constexpr bool allDistinct(const std::array<const char*, protocolTableSize>& names) {
    for (int i = 0; i < protocolTableSize; ++i) {
        for (int j = i + 1; j < protocolTableSize; ++j) {
            if (std::string_view(names[i]) == names[j]) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace detail

inline constexpr std::array<const char*, 256> DecoderProtocolNameTable =
    detail::makeDecoderProtocolNames();

static_assert(detail::allDistinct(ProtocolNameTable), "protocol table names must be unique");
static_assert(std::string_view(ProtocolNameTable[114]) == "Any_0-hop ");
static_assert(std::string_view(ProtocolNameTable[6]) == "TCP");
static_assert(std::string_view(ProtocolNameTable[17]) == "UDP");
static_assert(std::string_view(ProtocolNameTable[136]) == "UDP_Lite");
static_assert(std::string_view(ProtocolNameTable[140]) == "SHIM6");
static_assert(std::string_view(ProtocolNameTable[39]) == "TP++" &&
              std::string_view(ProtocolNameTable[93]) == "AX.25" &&
              std::string_view(ProtocolNameTable[107]) == "A/N");
static_assert(std::string_view(ProtocolNameTable[141]) == "UNASSIGNED");
static_assert(std::string_view(DecoderProtocolNameTable[114]) == "Any");
static_assert(std::string_view(DecoderProtocolNameTable[136]) == "UDP");
static_assert(std::string_view(DecoderProtocolNameTable[255]) == "UNASSIGNED");

// Name of protocol number n (0 to 141) as used for table names.
constexpr const char* protocolTableName(int n) {
    return ProtocolNameTable[n];
}

// The decoder's name of any protocol byte.
constexpr const char* decoderProtocolName(std::uint8_t p) {
    return DecoderProtocolNameTable[p];
}

}  // namespace tidewrack
