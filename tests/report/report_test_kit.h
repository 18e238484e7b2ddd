// What the tests of tidewrack-report share: running the built report program, making a
// database of a trace with the built tidewrack, and reading the report's JSON with SQLite's
// JSON functions.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "run_program.h"
#include "scratch_dir.h"

namespace reportkit {

// Runs tidewrack-report with TZ=UTC and, besides, the given "NAME=value" settings, in
// `directory` when one is given (through env(1), which sets both).
testkit::Outcome runReport(const std::vector<std::string>& args,
                           const std::vector<std::string>& environment = {},
                           const std::string& directory = "");

// The ids of the report's sections, in its order, as --csv list names them.
std::vector<std::string> sectionIds();

// Analyses `trace` into the new database `database` in `mode`; fails the test if it cannot.
void makeDatabase(const std::string& trace, const std::string& database, int mode = 1);

// Analyses `trace` into `database` with the extended record (-x) in `mode`, in the time zone
// `zone` (as TZ names it); fails the test if it cannot.
void makeExtendedDatabase(const std::string& trace, const std::string& database,
                          const std::string& zone = "UTC", int mode = 1);

// The shell commands of the README's block that follows the comment <!-- marker -->; empty
// when there is none.
std::string readmeRecipe(const std::string& marker);

// The rows of `sql`, run by SQLite over the JSON document bound as ?1, each row's columns
// joined by '|'.
std::vector<std::string> jsonQuery(const std::string& json, const std::string& sql);

// Handshake times in microseconds by "client end > server end" (ends written as the report
// writes them: address:port, [IPv6 address]:port).
using Handshakes = std::map<std::string, std::int64_t>;

// tshark's view of the first SYN ACK of each pair of ends in `capture` (its first TCP stream,
// when the pair was used again; the SYN ACKs quoted by ICMP errors left aside): the time from
// the client's last SYN before it, by tshark's frame times, when there is one; tshark's own
// tcp.analysis.ack_rtt on it, when it has one; and the pairs whose client sent more than one
// SYN before it. Besides, of every pair of ends: the SYNs (tcp.flags.syn == 1 &&
// tcp.flags.ack == 0) each end sent to the other, in all of the pair's TCP streams, and the
// time from the client's first SYN to the first SYN ACK, when the SYN ACK is not the earlier.
struct TsharkHandshakes {
    Handshakes fromLastSyn;
    Handshakes ackRtt;
    std::set<std::string> sentAgain;
    std::map<std::string, std::int64_t> syns;
    Handshakes connect;
};
TsharkHandshakes tsharkHandshakes(const std::string& capture);

// The handshake times (or, with `member` "connect", the connect times) of the report's JSON
// document, of every conversation that has one.
Handshakes reportHandshakes(const std::string& json, const std::string& member = "handshake");

// The SYNs that the client of each TCP conversation sent, of those that have a client.
std::map<std::string, std::int64_t> reportSyns(const std::string& json);

}  // namespace reportkit
