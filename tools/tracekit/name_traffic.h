// The traffic that names are learnt from, built byte by byte as clients and servers send it: DNS
// queries and responses (with CNAME chains and EDNS padding), TLS ClientHellos as a browser
// sends them today, HTTP requests, and a TCP connection whose ClientHello comes in three
// segments, one of them sent twice and one out of order. The tests, the sample generator, the
// benchmark's trace generator and the fuzzer's seeds all take their names traffic from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tracekit/frames.h"

namespace tracekit {

// A DNS query for `name` (dotted, no final dot) of record `type` (1 A, 28 AAAA), with
// recursion desired; padded to `size` bytes with an EDNS Padding option (RFC 7830) when that
// many bytes leave room for one, else as long as it needs.
Bytes dnsQuery(std::uint16_t id, std::string_view name, std::uint16_t type = 1,
               std::size_t size = 0);

// The response to that query: the question again, the CNAME chain from `name` through
// `cnames` in turn, then one A (4-byte) or AAAA (16-byte) answer per address for the chain's
// last name, each owner a compression pointer to where the name was written. Padded as
// dnsQuery pads.
Bytes dnsResponse(std::uint16_t id, std::string_view name, std::uint16_t type,
                  const std::vector<std::string>& cnames, const std::vector<Bytes>& addresses,
                  std::uint32_t ttl = 300, std::size_t size = 0);

// A TLS record holding a ClientHello for `serverName` as a browser sends it: GREASE, the
// cipher suites and extensions of a current browser and, with `postQuantum`, a key share of
// X25519MLKEM768 (1,216 bytes) beside X25519 and an encrypted_client_hello extension sent as
// GREASE (which on the wire is an outer hello), some 1.8 kB in all; without it, X25519 alone,
// as browsers sent it before. A record shorter than `size` is padded to it with the padding
// extension (RFC 7685), as browsers padded theirs to 517 bytes. Its random bytes follow from
// the name.
Bytes tlsClientHello(std::string_view serverName, bool postQuantum = true, std::size_t size = 0);

// An HTTP/1.1 GET of `path` from `host` as a browser sends it, made exactly `size` bytes long
// with a cookie when it is shorter.
Bytes httpRequest(std::string_view host, std::string_view path = "/", std::size_t size = 0);

// The frames of a TCP connection from `client`:`clientPort` to `server`:443 that sends `hello`
// in three segments: the handshake, the first segment, the third (ahead of a gap), the first
// again, the second (overlapping the first by a few bytes), the server's acknowledgement of
// the whole, and a close. `start` is the first frame's time in seconds.
std::vector<Record> helloInThreeSegments(const Address& client, std::uint16_t clientPort,
                                         const Address& server, const Bytes& hello,
                                         long start = 1700000000);

}  // namespace tracekit
