// The ICMP and service name tables: entries that are easy to get wrong, and the fall-backs.
// The protocol names and the TCP flag texts are checked by the compiler where they are defined.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "vocabulary/icmp_texts.h"
#include "vocabulary/service_tables.h"

using namespace tidewrack;

TEST(IcmpTexts, TypesCodesAndFallbacks) {
    struct Case {
        int type, code;
        const char *typeText, *codeText;
    };
    const Case cases[] = {
        {0, 200, "ECHO REPLY", "ECHO REPLY"},
        {8, 5, "ECHO REQUEST", "ECHO REQUEST"},
        {3, 3, "DESTINATION UNREACHABLE", "Destination port unreachable"},
        {3, 13, "DESTINATION UNREACHABLE", "Communication administratively prohibited"},
        {3, 14, "DESTINATION UNREACHABLE", "INVALID"},
        {5, 2, "REDIRECT MESSAGE", "Redirect Datagram for the TOS & network"},
        {5, 4, "REDIRECT MESSAGE", "INVALID"},
        {11, 1, "TIME EXCEEDED", "Fragment reassembly time exceeded"},
        {11, 2, "TIME EXCEEDED", "INVALID"},
        {12, 2, "BAD IPHEADER", "Bad length"},
        {12, 3, "BAD IPHEADER", "INVALID"},
        {1, 0, "RESERVED", "RESERVED"},
        {7, 0, "RESERVED", "RESERVED"},
        {19, 0, "RESERVED (SECURITY)", "RESERVED (SECURITY)"},
        {20, 0, "ROBUSTNESS EXPERIMENT", "ROBUSTNESS EXPERIMENT"},
        {29, 9, "ROBUSTNESS EXPERIMENT", "ROBUSTNESS EXPERIMENT"},
        {30, 0, "TRACEROUTE", "TRACEROUTE"},
        {35, 0, "MOBILE REGISTRATION REQUEST", "MOBILE REGISTRATION REQUEST"},
        {41, 0, "EXPERIMENTAL (MOBILITY)", "EXPERIMENTAL (MOBILITY)"},
        {42, 0, "RESERVED", "RESERVED"},
        {255, 255, "RESERVED", "RESERVED"},
    };
    for (const Case& c : cases) {
        const IcmpTexts t = icmpTexts(c.type, c.code);
        EXPECT_EQ(t.type, c.typeText) << c.type << "/" << c.code;
        EXPECT_EQ(t.code, c.codeText) << c.type << "/" << c.code;
    }
}

TEST(ServiceTables, TcpByPortUdpByPort) {
    struct Case {
        int port;
        const char *tcp, *udp;
    };
    const Case cases[] = {
        {0, "EPHEMERAL", "EPHEMERAL"},
        {1, "TCPMUX", "EPHEMERAL"},
        {13, "DAYTIME", "DAYTIME"},
        {53, "DNS", "DNS"},
        {67, "BOOTP SERVER", "BOOTP SERVER"},
        {80, "HTTP", "HTTP"},
        {443, "HTTPS", "EPHEMERAL"},
        {445, "EPHEMERAL", "MICROSOFT-DS"},
        {512, "LOGIN", "COMSAT"},
        {548, "AFP over TCP", "AFP over TCP"},
        {999, "EPHEMERAL", "EPHEMERAL"},
        {1433, "MS-SQL-SERVER", "MICROSOFT-SQL-SERVER"},
        {1434, "MS-SQL-Monitor", "MICROSOFT-SQL-MONITOR"},
        {1812, "EPHEMERAL", "RADIUS AUTHENTICATION"},
        {3128, "HTTP", "HTTP"},
        {5060, "SIP", "SIP"},
        {5061, "EPHEMERAL", "SIP"},
        {6667, "IRC", "EPHEMERAL"},
        {7000, "IRC", "AFS3-FILESERVER"},
        {7009, "EPHEMERAL", "AFS3-RMTSYS"},
        {8025, "SPAMD", "SPAMD-SYNC"},
        {8026, "SPAMD-CFG", "EPHEMERAL"},
        {8080, "HTTP", "HTTP"},
        {26740, "EPHEMERAL", "HUNT"},
        {65535, "EPHEMERAL", "EPHEMERAL"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(tcpServiceName(c.port), c.tcp) << c.port;
        EXPECT_STREQ(udpServiceName(c.port), c.udp) << c.port;
    }
}

TEST(ServiceTables, SharedAndDistinctNames) {
    std::set<std::string> tcpNames, udpNames;
    std::set<int> tcpPorts, common;
    for (const auto& e : TcpServiceTable) {
        tcpNames.insert(e.name);
        tcpPorts.insert(e.port);
    }
    int sameName = 0;
    for (const auto& e : UdpServiceTable) {
        udpNames.insert(e.name);
        if (tcpPorts.count(e.port)) {
            common.insert(e.port);
            sameName += std::string(tcpServiceName(e.port)) == e.name;
        }
    }
    EXPECT_EQ(tcpNames.size(), 135u);
    EXPECT_EQ(udpNames.size(), 103u);
    EXPECT_EQ(common.size(), 81u);
    EXPECT_EQ(sameName, 76);
}
