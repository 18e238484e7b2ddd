// The addresses a DNS response gives: its A and AAAA answers, with the name each belongs to,
// its TTL, and the name the client asked for when a chain of CNAME answers led from that
// question to the answer's name.
//
// A response is read with suspicion. Names are read with compression pointers that must point
// strictly before the start of the piece of name that holds them (so that every jump goes
// backwards and no loop is possible) and at most maxDnsPointers of them per name; labels of the
// reserved and extended types (length bytes of 64 and more) are refused, and so are names over
// 255 bytes. A record or question that runs past the message, an A record whose data is not 4
// bytes, an AAAA not 16, or a CNAME whose data is not exactly one name, makes the message
// malformed, and a malformed message gives no address at all. Only the header, the questions
// and the answer section are read; the authority and additional sections are not.
//
// The result is a fixed structure that the caller keeps and hands again for every message:
// reading allocates nothing.
#pragma once

#include <cstdint>

#include "capture/frame_bytes.h"
#include "names/name_text.h"

namespace tidewrack {

// Addresses kept per message: a response with more A and AAAA answers (large round-robin
// sets; 32 A answers already take 512 bytes, the whole of a classic UDP response) keeps the
// first ones and counts the rest.
inline constexpr std::uint32_t maxDnsAddresses = 32;
// CNAME answers followed per message; real chains are one to four links long.
inline constexpr std::uint32_t maxDnsCnames = 16;
// Compression pointers followed per name. Each must go backwards, which bounds them anyway;
// no honest name needs more than a few.
inline constexpr std::uint32_t maxDnsPointers = 32;

struct DnsAddress {
    WireName owner;         // the name the record belongs to
    bool viaCname = false;  // owner reached from the question through CNAME answers
    bool ipv6 = false;
    std::uint8_t address[16] = {};  // 4 bytes for A, 16 for AAAA
    std::uint32_t ttl = 0;
};

struct DnsResponse {
    bool hasQuestion = false;  // mDNS responses carry none
    WireName question;         // the first question's name
    std::uint32_t addressCount = 0;
    std::uint32_t addressesLeftOut = 0;  // A and AAAA answers beyond maxDnsAddresses
    DnsAddress addresses[maxDnsAddresses];
    // The CNAME answers, owner and target, as read.
    std::uint32_t cnameCount = 0;
    WireName cnameOwner[maxDnsCnames];
    WireName cnameTarget[maxDnsCnames];
    // Where the names of records that are not kept are read: made once with the structure,
    // not for every message.
    DnsAddress spare;
    WireName scratch;
};

enum class DnsReading : std::uint8_t {
    Response,     // a response, read: its addresses are in the result (perhaps none)
    NotResponse,  // a query, or an opcode other than QUERY
    Malformed,    // no address may be taken from it
};

// Reads the DNS message of `length` bytes at `message` (a UDP payload, or one message of a TCP
// stream without its length) into `out`.
DnsReading readDnsResponse(const std::uint8_t* message, std::uint32_t length, DnsResponse& out);

// The next whole message in `length` bytes of a DNS-over-TCP stream, where each message follows
// its two-byte length: true with the message's start and length, and `offset` moved past it;
// false when the bytes from `offset` on hold no whole message.
bool nextTcpDnsMessage(const std::uint8_t* stream, std::uint32_t length, std::uint32_t& offset,
                       std::uint32_t& messageStart, std::uint32_t& messageLength);

}  // namespace tidewrack
