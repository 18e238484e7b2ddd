// The server name of a QUIC connection, read from its client's Initial packets (RFC 9000
// section 17.2.2): versions 1 (RFC 9001) and 2 (RFC 9369), whose Initial packets are protected
// with keys that anyone can derive from the Destination Connection ID of the client's first
// Initial packet. Also read, as Wireshark reads them: the last drafts of version 1 (draft-29 to
// draft-32 with their own salt, draft-33 and draft-34 with version 1's), and the versions
// 0x?a?a?a?a that RFC 9000 section 15 reserves for exercising version negotiation, which say
// nothing of their protection: clients that send them protect their Initial packets as
// draft-29 did, and a packet that does not authenticate under those keys is not read.
//
// For each datagram from the client, the long-header packets coalesced in it are walked by
// their Length fields; each Initial packet has its header protection removed (AES-128-ECB of a
// sample of the payload) and its payload decrypted and authenticated (AES-128-GCM, the nonce
// being the IV with the packet number XORed in). Its frames are read in turn (PADDING, PING,
// ACK, CRYPTO and CONNECTION_CLOSE, the only ones an Initial packet may carry; any other ends
// the packet), and each CRYPTO frame's data is placed at its offset in a stream prefix, so that
// a ClientHello scattered over several frames and packets, in any order, is put back together
// and then read as over TLS. A ClientHello inside one CRYPTO frame at offset 0 is read in place,
// without a buffer.
//
// The keys are derived once per connection and kept with it; they change only when the client
// starts again with another connection ID (after a Retry) or another version, which a packet
// that fails to decrypt with the kept keys reveals. The keys, the header protection and the
// decryption come from OpenSSL's libcrypto (HKDF-SHA256, AES-128-ECB, AES-128-GCM), whose
// contexts are made once, with the reader, and used again for every packet.
#pragma once

#include <cstdint>
#include <memory>

#include "names/learnt_name.h"
#include "names/stream_prefix.h"

namespace tidewrack {

inline constexpr std::uint32_t quicVersion1 = 0x00000001, quicVersion2 = 0x6b3343cf;
inline constexpr std::uint32_t quicDraft29 = 0xff00001d, quicDraft34 = 0xff000022;
// A version reserved for exercising version negotiation: 0x?a?a?a?a.
constexpr bool reservedQuicVersion(std::uint32_t version) {
    return (version & 0x0f0f0f0f) == 0x0a0a0a0a;
}
inline constexpr std::uint32_t maxConnectionIdLength = 20;

// The client's Initial packet protection keys.
struct QuicKeys {
    std::uint8_t key[16] = {};
    std::uint8_t iv[12] = {};
    std::uint8_t hp[16] = {};
};

// What is kept of a QUIC connection's client side between its datagrams.
struct QuicClientFlow {
    bool keyed = false;     // `keys` hold the keys of `version` and `connectionId`
    bool finished = false;  // a name was found, or none will be
    std::uint8_t connectionIdLength = 0;
    std::uint8_t connectionId[maxConnectionIdLength] = {};
    std::uint32_t version = 0;
    QuicKeys keys;
    std::int64_t largestPacket = -1;  // of the client's Initial packets decrypted so far
    StreamPrefix crypto;              // the CRYPTO stream of the Initial packets
};

class QuicInitialReader {
  public:
    QuicInitialReader();
    ~QuicInitialReader();
    QuicInitialReader(const QuicInitialReader&) = delete;
    QuicInitialReader& operator=(const QuicInitialReader&) = delete;

    // False when libcrypto could not give the algorithms: nothing is then read.
    bool ready() const;

    // The client Initial keys of QUIC `version` (one of those read) for a Destination Connection
    // ID.
    bool clientKeys(std::uint32_t version, const std::uint8_t* connectionId,
                    std::uint32_t connectionIdLength, QuicKeys& keys);

    // Reads one datagram from the client, its `length` UDP payload bytes at `datagram`. Absent
    // when it holds no client Initial packet and the flow has not started its CRYPTO stream;
    // NeedMore while the ClientHello is still incomplete. On a final status (any other) the
    // flow is finished and its buffer has gone back to `pool`; later datagrams give Absent.
    NameStatus read(QuicClientFlow& flow, const std::uint8_t* datagram, std::uint32_t length,
                    StreamPrefixPool& pool, LearntName& out);

    // Gives back the buffer of a flow that ends before its name was read.
    static void end(QuicClientFlow& flow, StreamPrefixPool& pool);

  private:
    struct Crypto;
    struct Packet;
    bool decrypt(const QuicKeys& keys, const Packet& packet, std::int64_t largest,
                 std::int64_t& number, std::uint32_t& plainLength);
    bool open(QuicClientFlow& flow, const Packet& packet, std::uint32_t& plainLength);
    NameStatus readFrames(QuicClientFlow& flow, std::uint32_t plainLength, StreamPrefixPool& pool,
                          bool& grew, LearntName& out);

    std::unique_ptr<Crypto> crypto;
    std::unique_ptr<std::uint8_t[]> plain;  // one packet's decrypted payload
};

}  // namespace tidewrack
