// pcapng files for the tests and the fuzzer's seeds, written byte by byte: libpcap reads pcapng
// but only writes classic pcap.
#pragma once

#include <string>
#include <vector>

#include "tracekit/frames.h"

namespace tracekit {

// One section with one Ethernet interface of nanosecond timestamps, and one enhanced packet
// block per record: its time (`microseconds` taken as nanoseconds), captured and wire lengths.
void writePcapng(const std::string& path, const std::vector<Record>& records);

}  // namespace tracekit
