// Service names by port number, as constant sorted arrays checked by the compiler.
//
// TcpServiceTable names the service of a TCP segment by its source port (the answering side of
// a connection); UdpServiceTable names the service of a UDP datagram by its destination port.
// A port that is not a key of the table is "EPHEMERAL". Both arrays are sorted by port with
// unique keys. A lookup runs once per packet for each table, so it goes through an index built
// at compile time: one byte per port up to the table's highest, holding the entry's position
// plus one (0 for none). A port above the highest is ephemeral at once, which is what most
// client ports are. No allocation, no search and no text comparison.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tidewrack {

struct ServiceEntry {
    std::uint16_t port;
    const char* name;
};

inline constexpr const char* ephemeralService = "EPHEMERAL";

inline constexpr std::array<ServiceEntry, 139> TcpServiceTable = {{
    {1, "TCPMUX"},
    {7, "ECHO"},
    {9, "DISCARD"},
    {11, "SYSTAT"},
    {13, "DAYTIME"},
    {15, "NETSTAT"},
    {17, "QUOTE"},
    {18, "MSP"},
    {19, "CHARGEN"},
    {20, "FTP-DATA"},
    {21, "FTP"},
    {22, "SSH"},
    {23, "TELNET"},
    {25, "SMTP"},
    {37, "TIME"},
    {39, "RLP"},
    {42, "NAMESERVER"},
    {43, "WHOIS"},
    {53, "DNS"},
    {57, "MTP"},
    {67, "BOOTP SERVER"},
    {68, "BOOTP CLIENT"},
    {69, "TFTP"},
    {70, "GOPHER"},
    {77, "RJE"},
    {79, "FINGER"},
    {80, "HTTP"},
    {87, "TTYLINK"},
    {88, "KERBEROS"},
    {95, "SUPDUP"},
    {101, "HOSTNAME"},
    {102, "ISO-TSAP"},
    {103, "X400"},
    {104, "X400-snd"},
    {105, "CSO-NS"},
    {107, "RTELNET"},
    {109, "POP2"},
    {110, "POP3"},
    {111, "SUNRPC"},
    {113, "AUTH"},
    {115, "SFTP"},
    {117, "UUCP-PATH"},
    {119, "NNTP"},
    {123, "NTP"},
    {129, "PWDGEN"},
    {135, "EPMAP"},
    {137, "NETBIOS-NS"},
    {138, "NETBIOS-DGM"},
    {139, "NETBIOS-SSN"},
    {143, "IMAP"},
    {152, "BFTP"},
    {161, "SNMP"},
    {162, "SNMP-TRAP"},
    {163, "CMIP-MAN"},
    {164, "CMIP-AGENT"},
    {177, "XDMCP"},
    {178, "NEXTSTEP"},
    {179, "BGP"},
    {191, "PROSPERO"},
    {194, "IRC"},
    {199, "SMUX"},
    {201, "APPLETALK-RTMP"},
    {202, "APPLETALK-NBP"},
    {204, "APPLETALK-ECHO"},
    {206, "APPLETALK-ZIS"},
    {210, "WAIS"},
    {213, "IPX"},
    {220, "IMAP3"},
    {372, "ULISTSERV"},
    {389, "LDAP"},
    {427, "SVRLOC"},
    {433, "NNSP"},
    {443, "HTTPS"},
    {464, "KPASSWD"},
    {465, "SMTPS"},
    {468, "PHOTURIS"},
    {500, "ISAKMP"},
    {512, "LOGIN"},
    {521, "EFS"},
    {530, "COURIER_RPC"},
    {540, "UUCP"},
    {543, "KLOGIN"},
    {544, "KSHELL"},
    {545, "EKSHELL"},
    {548, "AFP over TCP"},
    {556, "RFS"},
    {587, "SUBMISSION"},
    {623, "ASF-RMCP"},
    {631, "IPP"},
    {636, "LDAPS"},
    {706, "SILC"},
    {749, "KERBEROS-ADM"},
    {750, "KERBEROS-IV"},
    {751, "KERBEROS-MASTER"},
    {754, "KRB-HPROP"},
    {760, "KRB-UPDATE"},
    {782, "CONSERVER"},
    {871, "SUP"},
    {873, "RSYNC"},
    {888, "CDDB"},
    {993, "IMAPS"},
    {995, "POP3S"},
    {1080, "SOCKS"},
    {1109, "KPOP"},
    {1127, "SUP-DBG"},
    {1433, "MS-SQL-SERVER"},
    {1434, "MS-SQL-Monitor"},
    {1524, "INGRES"},
    {1525, "PROSPERO-NP"},
    {1646, "SA-MSG-PORT"},
    {1723, "PPTP"},
    {1900, "SSDP"},
    {2049, "NFS"},
    {2105, "EKLOGIN"},
    {2106, "EKSHELL2"},
    {2108, "RKINIT"},
    {2110, "KF"},
    {2111, "KRB-X"},
    {2112, "KIP"},
    {2120, "KAUTH"},
    {2121, "KRB-IPROP"},
    {2401, "CVS"},
    {2983, "NETPLAN"},
    {3031, "EPPC"},
    {3128, "HTTP"},
    {3306, "MYSQL"},
    {3517, "IAPP"},
    {3689, "DAAP"},
    {4444, "KRB524"},
    {4500, "IPSEC-NAT-T"},
    {5002, "RFE"},
    {5060, "SIP"},
    {5432, "POSTGRESQL"},
    {6667, "IRC"},
    {7000, "IRC"},
    {7326, "ICB"},
    {8025, "SPAMD"},
    {8026, "SPAMD-CFG"},
    {8080, "HTTP"},
}};

inline constexpr std::array<ServiceEntry, 106> UdpServiceTable = {{
    {7, "ECHO"},
    {9, "DISCARD"},
    {13, "DAYTIME"},
    {18, "MSP"},
    {19, "CHARGEN"},
    {22, "SSH"},
    {37, "TIME"},
    {39, "RLP"},
    {53, "DNS"},
    {67, "BOOTP SERVER"},
    {68, "BOOTP CLIENT"},
    {69, "TFTP"},
    {70, "GOPHER"},
    {80, "HTTP"},
    {88, "KERBEROS"},
    {105, "CSO-NS"},
    {107, "RTELNET"},
    {109, "POP2"},
    {110, "POP3"},
    {111, "SUNRPC"},
    {123, "NTP"},
    {129, "PWDGEN"},
    {135, "EPMAP"},
    {137, "NETBIOS-NS"},
    {138, "NETBIOS-DGM"},
    {139, "NETBIOS-SSN"},
    {143, "IMAP"},
    {161, "SNMP"},
    {162, "SNMP-TRAP"},
    {163, "CMIP-MAN"},
    {164, "CMIP-AGENT"},
    {177, "XDMCP"},
    {178, "NEXTSTEP"},
    {179, "BGP"},
    {191, "PROSPERO"},
    {194, "IRC"},
    {199, "SMUX"},
    {201, "APPLETALK-RTMP"},
    {202, "APPLETALK-NBP"},
    {204, "APPLETALK-ECHO"},
    {206, "APPLETALK-ZIS"},
    {210, "WAIS"},
    {213, "IPX"},
    {220, "IMAP3"},
    {372, "ULISTSERV"},
    {389, "LDAP"},
    {427, "SVRLOC"},
    {445, "MICROSOFT-DS"},
    {464, "KPASSWD"},
    {468, "PHOTURIS"},
    {500, "ISAKMP"},
    {512, "COMSAT"},
    {513, "WHO"},
    {514, "SYSLOG"},
    {517, "TALK"},
    {518, "NTALK"},
    {520, "ROUTE"},
    {525, "TIMESERVER"},
    {533, "NETWALL"},
    {548, "AFP over TCP"},
    {554, "RTSP"},
    {587, "SUBMISSION"},
    {623, "ASF-RMCP"},
    {631, "IPP"},
    {636, "LDAPS"},
    {706, "SILC"},
    {749, "KERBEROS-ADM"},
    {750, "KERBEROS-IV"},
    {751, "KERBEROS-MASTER"},
    {993, "IMAPS"},
    {995, "POP3S"},
    {1433, "MICROSOFT-SQL-SERVER"},
    {1434, "MICROSOFT-SQL-MONITOR"},
    {1524, "INGRES"},
    {1525, "PROSPERO-NP"},
    {1645, "DATAMETRICS"},
    {1646, "SA-MSG-PORT"},
    {1723, "PPTP"},
    {1812, "RADIUS AUTHENTICATION"},
    {1813, "RADIUS ACCOUNTING"},
    {1900, "SSDP"},
    {2049, "NFS"},
    {2627, "WEBSTER"},
    {3031, "EPPC"},
    {3128, "HTTP"},
    {3517, "IAPP"},
    {3689, "DAAP"},
    {4444, "KRB524"},
    {4500, "IPSEC-NAT-T"},
    {5002, "RFE"},
    {5060, "SIP"},
    {5061, "SIP"},
    {7000, "AFS3-FILESERVER"},
    {7001, "AFS3-CALLBACK"},
    {7002, "AFS3-PRSERVER"},
    {7003, "AFS3-VLSERVER"},
    {7004, "AFS3-KASERVER"},
    {7005, "AFS3-VOLSERVER"},
    {7006, "AFS3-ERRORS"},
    {7007, "AFS3-BOS"},
    {7008, "AFS3-UPDATE"},
    {7009, "AFS3-RMTSYS"},
    {8025, "SPAMD-SYNC"},
    {8067, "DHCP-SYNC"},
    {8080, "HTTP"},
    {26740, "HUNT"},
}};

namespace detail {

template <std::size_t N>
constexpr bool strictlyAscending(const std::array<ServiceEntry, N>& table) {
    for (std::size_t i = 1; i < N; ++i) {
        if (table[i - 1].port >= table[i].port) {
            return false;
        }
    }
    return true;
}

// Position plus one of each port's entry, for ports 0 to the table's highest.
template <const auto& Table>
constexpr auto makeServiceIndex() {
    static_assert(Table.size() < 256, "positions must fit in one byte");
    std::array<std::uint8_t, Table.back().port + 1> index{};
    for (std::size_t i = 0; i < Table.size(); ++i) {
        index[Table[i].port] = static_cast<std::uint8_t>(i + 1);
    }
    return index;
}

template <const auto& Table, const auto& Index>
constexpr const char* findService(std::uint16_t port) {
    return port < Index.size() && Index[port] != 0 ? Table[Index[port] - 1].name : ephemeralService;
}

// Every entry is found by its port, and no other port is found.
template <const auto& Table, const auto& Index>
constexpr bool indexMatchesTable() {
    std::size_t found = 0;
    for (std::size_t port = 0; port < Index.size(); ++port) {
        found += Index[port] != 0;
    }
    for (const ServiceEntry& e : Table) {
        if (findService<Table, Index>(e.port) != e.name) {
            return false;
        }
    }
    return found == Table.size();
}

}  // namespace detail

static_assert(detail::strictlyAscending(TcpServiceTable), "TCP ports must be sorted and unique");
static_assert(detail::strictlyAscending(UdpServiceTable), "UDP ports must be sorted and unique");
static_assert(TcpServiceTable.front().port == 1 && TcpServiceTable.back().port == 8080);
static_assert(UdpServiceTable.front().port == 7 && UdpServiceTable.back().port == 26740);

inline constexpr auto TcpServiceIndex = detail::makeServiceIndex<TcpServiceTable>();
inline constexpr auto UdpServiceIndex = detail::makeServiceIndex<UdpServiceTable>();
static_assert(detail::indexMatchesTable<TcpServiceTable, TcpServiceIndex>());
static_assert(detail::indexMatchesTable<UdpServiceTable, UdpServiceIndex>());

// Service of a TCP segment by its source port.
constexpr const char* tcpServiceName(std::uint16_t port) {
    return detail::findService<TcpServiceTable, TcpServiceIndex>(port);
}

// Service of a UDP datagram by its destination port.
constexpr const char* udpServiceName(std::uint16_t port) {
    return detail::findService<UdpServiceTable, UdpServiceIndex>(port);
}

}  // namespace tidewrack
