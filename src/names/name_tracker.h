// NameTracker: what the analyser learns of names while it reads, from the traffic itself, and
// the name each connection ends with.
//
// Every analysed packet is shown to it once the connection table has it, with its connection:
//   - a DNS response (UDP or TCP from port 53, mDNS from 5353) gives its A and AAAA answers, each
//     with the name it belongs to, its TTL, and the name the client asked for when a chain of
//     CNAME answers led from that question to it (dns_message.h);
//   - the first bytes of either end of a TCP connection give the server name of a TLS
//     ClientHello or the Host of an HTTP request (client_stream.h); either end, since the one
//     that is the client may only be known later: a server's first bytes are neither;
//   - the datagrams of the first sender of a UDP connection give the server name of a QUIC
//     client's Initial packets (quic_initial.h).
// Each name learnt goes to the sink, once per distinct name, address, source and queried name,
// with the frame that first gave it. A connection's name is its own (TLS, QUIC, HTTP) when it
// sent one; failing that, the name the client asked for in the DNS answer for the server's
// address that the client received most recently before the connection's first frame.
//
// Memory is bounded and taken once: names are kept once each in a store of fixed size (a name
// that finds it full is written, but gives no connection its name and is not remembered), the
// DNS answers by client and address in a table of fixed size (the oldest answer of a slot gives
// way), the names already written in a set that starts anew when full, and the bytes of the
// streams still being read in the pools of client_stream.h and quic_initial.h. The per-packet
// path allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "capture/frame_bytes.h"
#include "connections/connection_table.h"
#include "connections/packet_facts.h"
#include "names/client_stream.h"
#include "names/dns_message.h"
#include "names/learnt_name.h"
#include "names/quic_initial.h"

namespace tidewrack {

// A name learnt, as the NAMES table holds it.
struct NameRow {
    std::uint64_t frame = 0;
    std::uint8_t family = 4;
    std::uint8_t address[16] = {};  // the answer's, or the server's; IPv4 in the first 4 bytes
    const NameText* name = nullptr;
    NameSource source = NameSource::Dns;
    bool dns = false;                   // `ttl` and `queried` are DNS's
    std::uint32_t ttl = 0;              // DNS only
    const NameText* queried = nullptr;  // DNS, through a CNAME chain only; else null
    bool echOuter = false;              // TLS and QUIC: the outer name of an encrypted hello
};

struct NameSink {
    void (*learnt)(void* context, const NameRow& row) = nullptr;
    void* context = nullptr;
};

class NameTracker {
  public:
    // `connections`: the places of the connection table.
    NameTracker(std::size_t connections, NameSink sink);
    ~NameTracker();
    NameTracker(const NameTracker&) = delete;
    NameTracker& operator=(const NameTracker&) = delete;

    // A packet (the captured bytes of its frame) that the connection table added as `added`.
    void packet(const PacketFacts& facts, const FrameBytes& frame,
                const ConnectionTable::Added& added);

    // The name of a connection that ended, as its row gives it (null text without one), and
    // where it came from; then its place is cleared and its buffers go back.
    struct ConnectionName {
        const char* text = nullptr;
        const char* source = nullptr;
    };
    ConnectionName ended(std::uint32_t connection);

  private:
    struct PerConnection;
    class Store;
    class Answers;
    class Written;

    void dns(const PacketFacts& facts, const std::uint8_t* message, std::uint32_t length);
    void stream(const PacketFacts& facts, const FrameBytes& frame, std::uint32_t payload,
                const ConnectionTable::Added& added);
    void quic(const PacketFacts& facts, const std::uint8_t* datagram, std::uint32_t length,
              PerConnection& connection);
    // A connection's own name: its NAMES row, and the name it ends with.
    void named(const PacketFacts& facts, const LearntName& name, PerConnection& connection);
    // Writes a row unless its name, address, source and queried name were written before.
    void write(const NameRow& row);

    // Arrays of records that zero makes empty, taken with calloc, whose large blocks are fresh
    // pages: a table costs memory only where it is written.
    struct Free {
        void operator()(void* block) const;
    };
    template <typename T>
    using Zeroed = std::unique_ptr<T[], Free>;
    template <typename T>
    static Zeroed<T> zeroed(std::size_t count);

    NameSink sink;
    std::size_t places;
    Zeroed<PerConnection> perConnection;
    std::unique_ptr<Store> store;
    std::unique_ptr<Answers> answers;
    std::unique_ptr<Written> written;
    StreamPrefixPool pool;
    ClientStreamReader streams;
    QuicInitialReader quicReader;
    std::unique_ptr<QuicClientFlow[]> quicFlows;
    std::unique_ptr<std::uint32_t[]> freeQuicFlows;
    std::uint32_t freeQuicCount = 0;
    std::unique_ptr<DnsResponse> response;
    NameText owner, question;
    LearntName learnt;
};

}  // namespace tidewrack
