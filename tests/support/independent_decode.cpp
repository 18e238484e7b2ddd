// An independent reading of a trace: the IPv4 header at the fixed 14-byte offset, the ports
// after the header length it declares, nothing read past the captured length.
#include "independent_decode.h"

#include <pcap/pcap.h>

#include <sstream>

#include "vocabulary/protocol_names.h"

namespace testkit {

std::vector<std::string> independentLines(const std::string& tracePath, int& decoded) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* in = pcap_open_offline(tracePath.c_str(), error);
    std::vector<std::string> lines;
    if (in == nullptr) {
        return lines;
    }
    bpf_program ip{};
    const bool filtered = pcap_compile(in, &ip, "ip", 1, PCAP_NETMASK_UNKNOWN) == 0;
    pcap_pkthdr* h;
    const u_char* d;
    while (pcap_next_ex(in, &h, &d) == 1) {
        if (filtered && !pcap_offline_filter(&ip, h, d)) {
            continue;
        }
        std::ostringstream line;
        if (h->caplen < 34) {
            line << "truncated frame (" << h->caplen << " bytes)";
        } else {
            ++decoded;
            const unsigned t = 14 + (d[14] & 15) * 4;
            const auto port = [&](unsigned at) {
                return at + 2 <= h->caplen ? d[at] * 256 + d[at + 1] : 0;
            };
            line << tidewrack::DecoderProtocolNameTable[d[23]] << ' ' << +d[26] << '.' << +d[27]
                 << '.' << +d[28] << '.' << +d[29] << ':' << port(t) << "  ->  " << +d[30] << '.'
                 << +d[31] << '.' << +d[32] << '.' << +d[33] << ':' << port(t + 2);
        }
        lines.push_back(line.str());
    }
    pcap_freecode(&ip);
    pcap_close(in);
    return lines;
}

std::vector<std::string> programLines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    std::string line;
    for (int n = 1; std::getline(in, line);) {
        const std::string prefix = std::to_string(n) + ": ";
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line.substr(line.find(' ', prefix.size()) + 1));
            ++n;
        }
    }
    return lines;
}

}  // namespace testkit
