// The texts the report shows for its numbers: addresses, address:port ends, counts with
// grouped digits, byte counts, durations and shares. Every output (terminal, HTML and JSON)
// takes its texts from here, so that they show the same figures the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tidewrack::report {

// An IPv4 address held with its first byte in the highest bits, dotted.
std::string formatAddress(std::uint32_t address);
// "address:port".
std::string formatEnd(std::uint32_t address, std::uint16_t port);

// A count with its digits grouped by three: 1,234,567.
std::string groupDigits(std::uint64_t n);

// A span of microseconds for people: "0.486 s", "12 min 5 s", "3 h 02 min", "2 d 04 h".
std::string formatDuration(std::int64_t microseconds);

// A span of microseconds as seconds with six decimals, as JSON numbers show it: "0.486500".
std::string formatSeconds(std::int64_t microseconds);

// Port numbers joined by `separator`.
std::string joinPorts(const std::vector<std::uint16_t>& ports, const char* separator);

// The share of `part` in `whole` as a percentage with one decimal: "88.1 %".
std::string formatShare(std::uint64_t part, std::uint64_t whole);

}  // namespace tidewrack::report
