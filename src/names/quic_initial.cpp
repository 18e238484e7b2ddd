// Reading QUIC client Initial packets: the long headers of a datagram, the Initial keys from
// libcrypto's HKDF, header protection and AEAD, the frames of the decrypted payload, and the
// CRYPTO stream put back together in a stream prefix.
#include "names/quic_initial.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <cstring>
#include <string_view>

#include "capture/frame_bytes.h"
#include "names/tls_client_hello.h"

namespace tidewrack {

namespace {

// What tells the versions apart: the Initial packet's type bits, the salt of the initial secret
// and the labels of the packet protection keys.
struct VersionRules {
    std::uint32_t number;
    std::uint8_t initialType;
    std::uint8_t retryType;
    std::uint8_t salt[20];
    std::string_view keyLabel, ivLabel, hpLabel;
};

constexpr VersionRules versions[] = {
    {quicVersion1,
     0,
     3,
     {0x38, 0x76, 0x2c, 0xf7, 0xf5, 0x59, 0x34, 0xb3, 0x4d, 0x17,
      0x9a, 0xe6, 0xa4, 0xc8, 0x0c, 0xad, 0xcc, 0xbb, 0x7f, 0x0a},
     "quic key",
     "quic iv",
     "quic hp"},
    {quicVersion2,
     1,
     0,
     {0x0d, 0xed, 0xe3, 0xde, 0xf7, 0x00, 0xa6, 0xdb, 0x81, 0x93,
      0x81, 0xbe, 0x6e, 0x26, 0x9d, 0xcb, 0xf9, 0xbd, 0x2e, 0xd9},
     "quicv2 key",
     "quicv2 iv",
     "quicv2 hp"},
    // draft-29 to draft-32 (the number is the first of them): version 1's packets and labels,
    // another salt.
    {quicDraft29,
     0,
     3,
     {0xaf, 0xbf, 0xec, 0x28, 0x99, 0x93, 0xd2, 0x4c, 0x9e, 0x97,
      0x86, 0xf1, 0x9c, 0x61, 0x11, 0xe0, 0x43, 0x90, 0xa8, 0x99},
     "quic key",
     "quic iv",
     "quic hp"},
};
static_assert(versions[0].number == 1 && versions[1].number == 0x6b3343cf &&
              versions[2].number == 0xff00001d);
static_assert(versions[0].initialType != versions[1].initialType);
static_assert(reservedQuicVersion(0x0a0a0a0a) && reservedQuicVersion(0xfa1a2a3a) &&
              !reservedQuicVersion(0x0a0a0a0b) && !reservedQuicVersion(quicVersion1));

const VersionRules* rulesOf(std::uint32_t version) {
    if (version >= quicDraft29 && version <= quicDraft34) {
        return version < quicDraft29 + 4 ? &versions[2] : &versions[0];
    }
    if (reservedQuicVersion(version)) {
        return &versions[2];
    }
    for (const VersionRules& rules : versions) {
        if (rules.number == version) {
            return &rules;
        }
    }
    return nullptr;
}

// A client pads every datagram that carries an Initial packet to this size (RFC 9000 section
// 14.1); a shorter one is no client's, and is not decrypted.
constexpr std::uint32_t minimumClientDatagram = 1200;
constexpr std::uint32_t sampleLength = 16, tagLength = 16;
constexpr std::uint32_t plainCapacity = 65536;

constexpr std::uint64_t framePadding = 0x00, framePing = 0x01, frameAck = 0x02, frameAckEcn = 0x03,
                        frameCrypto = 0x06, frameConnectionClose = 0x1c;

// A variable-length integer (RFC 9000 section 16) at `at`, which moves past it.
bool varint(const FrameBytes& bytes, std::uint32_t& at, std::uint64_t& value) {
    if (!bytes.has(at, 1)) {
        return false;
    }
    const std::uint32_t length = 1u << (bytes.byte(at) >> 6);
    if (!bytes.has(at, length)) {
        return false;
    }
    value = bytes.byte(at) & 0x3F;
    for (std::uint32_t i = 1; i < length; ++i) {
        value = value << 8 | bytes.byte(at + i);
    }
    at += length;
    return true;
}

// The full packet number of a truncated one of `bits` bits (RFC 9000 appendix A.3).
std::int64_t fullPacketNumber(std::int64_t largest, std::uint64_t truncated, unsigned bits) {
    const std::int64_t expected = largest + 1;
    const std::int64_t window = std::int64_t{1} << bits, half = window / 2;
    const std::int64_t candidate =
        (expected & ~(window - 1)) | static_cast<std::int64_t>(truncated);
    if (candidate <= expected - half && candidate < (std::int64_t{1} << 62) - window) {
        return candidate + window;
    }
    if (candidate > expected + half && candidate >= window) {
        return candidate - window;
    }
    return candidate;
}

}  // namespace

// The algorithms, fetched once, and their contexts, made once.
struct QuicInitialReader::Crypto {
    EVP_KDF* hkdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX* hkdfContext = hkdf != nullptr ? EVP_KDF_CTX_new(hkdf) : nullptr;
    EVP_CIPHER* gcm = EVP_CIPHER_fetch(nullptr, "AES-128-GCM", nullptr);
    EVP_CIPHER* ecb = EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr);
    EVP_CIPHER_CTX* gcmContext = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX* ecbContext = EVP_CIPHER_CTX_new();
    // The keys the two contexts hold: a packet under the same keys as the one before (the
    // usual case) sets only its nonce, without the keys' schedules made again.
    bool keysSet = false;
    QuicKeys lastKeys;

    ~Crypto() {
        EVP_CIPHER_CTX_free(ecbContext);
        EVP_CIPHER_CTX_free(gcmContext);
        EVP_CIPHER_free(ecb);
        EVP_CIPHER_free(gcm);
        EVP_KDF_CTX_free(hkdfContext);
        EVP_KDF_free(hkdf);
    }

    bool ready() const {
        return hkdfContext != nullptr && gcm != nullptr && ecb != nullptr &&
               gcmContext != nullptr && ecbContext != nullptr;
    }

    // HKDF-Extract (`salt` given) or HKDF-Expand (`info` given) with SHA-256.
    bool hkdf256(int mode, const std::uint8_t* key, std::size_t keyLength,
                 const std::uint8_t* saltOrInfo, std::size_t length, std::uint8_t* out,
                 std::size_t outLength) {
        char digest[] = "SHA256";
        const bool extract = mode == EVP_KDF_HKDF_MODE_EXTRACT_ONLY;
        const OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
            OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<std::uint8_t*>(key),
                                              keyLength),
            OSSL_PARAM_construct_octet_string(extract ? OSSL_KDF_PARAM_SALT : OSSL_KDF_PARAM_INFO,
                                              const_cast<std::uint8_t*>(saltOrInfo), length),
            OSSL_PARAM_construct_end(),
        };
        EVP_KDF_CTX_reset(hkdfContext);
        return EVP_KDF_derive(hkdfContext, out, outLength, params) == 1;
    }

    // HKDF-Expand-Label of TLS 1.3 (RFC 8446 section 7.1) with an empty context.
    bool expandLabel(const std::uint8_t (&secret)[32], std::string_view label, std::uint8_t* out,
                     std::uint8_t outLength) {
        constexpr std::string_view prefix = "tls13 ";
        std::uint8_t info[2 + 1 + 255 + 1];
        std::size_t at = 0;
        info[at++] = 0;
        info[at++] = outLength;
        info[at++] = static_cast<std::uint8_t>(prefix.size() + label.size());
        std::memcpy(info + at, prefix.data(), prefix.size());
        at += prefix.size();
        std::memcpy(info + at, label.data(), label.size());
        at += label.size();
        info[at++] = 0;
        return hkdf256(EVP_KDF_HKDF_MODE_EXPAND_ONLY, secret, sizeof secret, info, at, out,
                       outLength);
    }
};

// One long-header packet inside a datagram, from its first byte to the end of its Length.
struct QuicInitialReader::Packet {
    const std::uint8_t* bytes;
    std::uint32_t length;
    std::uint32_t numberOffset;  // where the protected packet number starts
    std::uint32_t version;
    const std::uint8_t* connectionId;
    std::uint8_t connectionIdLength;
};

QuicInitialReader::QuicInitialReader()
    : crypto(std::make_unique<Crypto>()),
      plain(std::make_unique_for_overwrite<std::uint8_t[]>(plainCapacity)) {}

QuicInitialReader::~QuicInitialReader() = default;

bool QuicInitialReader::ready() const {
    return crypto->ready();
}

bool QuicInitialReader::clientKeys(std::uint32_t version, const std::uint8_t* connectionId,
                                   std::uint32_t connectionIdLength, QuicKeys& keys) {
    const VersionRules* rules = rulesOf(version);
    if (rules == nullptr || !ready() || connectionIdLength == 0 ||
        connectionIdLength > maxConnectionIdLength) {
        return false;
    }
    std::uint8_t initialSecret[32], clientSecret[32];
    return crypto->hkdf256(EVP_KDF_HKDF_MODE_EXTRACT_ONLY, connectionId, connectionIdLength,
                           rules->salt, sizeof rules->salt, initialSecret, sizeof initialSecret) &&
           crypto->expandLabel(initialSecret, "client in", clientSecret, sizeof clientSecret) &&
           crypto->expandLabel(clientSecret, rules->keyLabel, keys.key, sizeof keys.key) &&
           crypto->expandLabel(clientSecret, rules->ivLabel, keys.iv, sizeof keys.iv) &&
           crypto->expandLabel(clientSecret, rules->hpLabel, keys.hp, sizeof keys.hp);
}

bool QuicInitialReader::decrypt(const QuicKeys& keys, const Packet& packet, std::int64_t largest,
                                std::int64_t& number, std::uint32_t& plainLength) {
    const FrameBytes bytes(packet.bytes, packet.length);
    const std::uint32_t sample = packet.numberOffset + 4;
    if (!bytes.has(sample, sampleLength)) {
        return false;
    }
    // Header protection: the mask is the sample encrypted with the hp key.
    const bool sameKeys =
        crypto->keysSet && std::memcmp(&crypto->lastKeys, &keys, sizeof keys) == 0;
    if (!sameKeys) {
        crypto->keysSet = false;
        if (EVP_EncryptInit_ex(crypto->ecbContext, crypto->ecb, nullptr, keys.hp, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_padding(crypto->ecbContext, 0) != 1 ||
            EVP_DecryptInit_ex(crypto->gcmContext, crypto->gcm, nullptr, keys.key, nullptr) != 1) {
            return false;
        }
        crypto->lastKeys = keys;
        crypto->keysSet = true;
    }
    std::uint8_t mask[sampleLength];
    int written = 0;
    if (EVP_EncryptUpdate(crypto->ecbContext, mask, &written, bytes.at(sample), sampleLength) !=
            1 ||
        written != static_cast<int>(sampleLength)) {
        return false;
    }
    const std::uint8_t first = bytes.byte(0) ^ (mask[0] & 0x0F);
    const std::uint32_t numberLength = (first & 0x03) + 1u;
    std::uint8_t numberBytes[4];
    std::uint64_t truncated = 0;
    for (std::uint32_t i = 0; i < numberLength; ++i) {
        numberBytes[i] = bytes.byte(packet.numberOffset + i) ^ mask[1 + i];
        truncated = truncated << 8 | numberBytes[i];
    }
    number = fullPacketNumber(largest, truncated, 8 * numberLength);
    std::uint8_t nonce[12];
    std::memcpy(nonce, keys.iv, sizeof nonce);
    for (int i = 0; i < 8; ++i) {
        nonce[4 + i] ^=
            static_cast<std::uint8_t>(static_cast<std::uint64_t>(number) >> (56 - 8 * i));
    }
    const std::uint32_t payload = packet.numberOffset + numberLength;
    const std::uint32_t cipherLength = packet.length - payload - tagLength;  // sample fits
    if (cipherLength > plainCapacity) {
        return false;
    }
    // The header, as sent but unprotected, is the associated data; its middle is used in place.
    EVP_CIPHER_CTX* context = crypto->gcmContext;
    int ignored = 0, decrypted = 0, last = 0;
    std::uint8_t tag[tagLength];
    std::memcpy(tag, bytes.at(packet.length - tagLength), tagLength);
    if (EVP_DecryptInit_ex(context, nullptr, nullptr, nullptr, nonce) != 1 ||
        EVP_DecryptUpdate(context, nullptr, &ignored, &first, 1) != 1 ||
        EVP_DecryptUpdate(context, nullptr, &ignored, bytes.at(1),
                          static_cast<int>(packet.numberOffset - 1)) != 1 ||
        EVP_DecryptUpdate(context, nullptr, &ignored, numberBytes,
                          static_cast<int>(numberLength)) != 1 ||
        EVP_DecryptUpdate(context, plain.get(), &decrypted, bytes.at(payload),
                          static_cast<int>(cipherLength)) != 1 ||
        EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_TAG, tagLength, tag) != 1 ||
        EVP_DecryptFinal_ex(context, plain.get() + decrypted, &last) != 1) {
        return false;
    }
    plainLength = cipherLength;
    return true;
}

bool QuicInitialReader::open(QuicClientFlow& flow, const Packet& packet,
                             std::uint32_t& plainLength) {
    std::int64_t number = 0;
    const bool sameId =
        flow.connectionIdLength == packet.connectionIdLength &&
        std::memcmp(flow.connectionId, packet.connectionId, packet.connectionIdLength) == 0;
    if (flow.keyed && flow.version == packet.version) {
        if (decrypt(flow.keys, packet, flow.largestPacket, number, plainLength)) {
            flow.largestPacket = number > flow.largestPacket ? number : flow.largestPacket;
            return true;
        }
        if (sameId) {
            return false;
        }
    }
    // The first Initial packet, or the client starting again after a Retry or in another
    // version: keys from this packet's connection ID.
    QuicKeys keys;
    if (!clientKeys(packet.version, packet.connectionId, packet.connectionIdLength, keys) ||
        !decrypt(keys, packet, flow.largestPacket, number, plainLength)) {
        return false;
    }
    flow.keys = keys;
    flow.keyed = true;
    flow.version = packet.version;
    flow.connectionIdLength = packet.connectionIdLength;
    std::memcpy(flow.connectionId, packet.connectionId, packet.connectionIdLength);
    flow.largestPacket = number > flow.largestPacket ? number : flow.largestPacket;
    return true;
}

NameStatus QuicInitialReader::readFrames(QuicClientFlow& flow, std::uint32_t plainLength,
                                         StreamPrefixPool& pool, bool& grew, LearntName& out) {
    const FrameBytes frames(plain.get(), plainLength);
    std::uint32_t at = 0;
    std::uint64_t type = 0, a = 0, b = 0, c = 0;
    while (at < plainLength && varint(frames, at, type)) {
        if (type == framePadding) {
            // Padding fills most of a client's Initial packet: skipped a byte at a time here
            // rather than read as frames.
            while (at < plainLength && plain[at] == 0) {
                ++at;
            }
            continue;
        }
        if (type == framePing) {
            continue;
        }
        if (type == frameAck || type == frameAckEcn) {
            std::uint64_t ranges = 0;
            if (!varint(frames, at, a) || !varint(frames, at, b) || !varint(frames, at, ranges) ||
                !varint(frames, at, c)) {
                break;
            }
            // Each range takes at least two bytes, so the loop ends with the payload.
            bool whole = true;
            for (std::uint64_t i = 0; i < ranges && whole; ++i) {
                whole = varint(frames, at, a) && varint(frames, at, b);
            }
            if (!whole ||
                (type == frameAckEcn &&
                 !(varint(frames, at, a) && varint(frames, at, b) && varint(frames, at, c)))) {
                break;
            }
        } else if (type == frameConnectionClose) {
            if (!varint(frames, at, a) || !varint(frames, at, b) || !varint(frames, at, c) ||
                c > plainLength - at) {
                break;
            }
            at += static_cast<std::uint32_t>(c);
        } else if (type == frameCrypto) {
            std::uint64_t offset = 0, length = 0;
            if (!varint(frames, at, offset) || !varint(frames, at, length) ||
                length > plainLength - at) {
                break;
            }
            const std::uint8_t* data = frames.at(at);
            const auto dataLength = static_cast<std::uint32_t>(length);
            at += dataLength;
            if (flow.crypto.slot < 0 && offset == 0) {
                const NameStatus status = readClientHello(data, dataLength, out);
                if (status != NameStatus::NeedMore) {
                    return status;
                }
            }
            const Placement placement = pool.placeAt(flow.crypto, offset, data, dataLength);
            if (placement == Placement::NoBuffer) {
                return NameStatus::NoRoom;
            }
            grew = grew || placement == Placement::Grew;
        } else {
            break;  // no other frame may be in an Initial packet: the rest is not read
        }
    }
    return NameStatus::NeedMore;
}

NameStatus QuicInitialReader::read(QuicClientFlow& flow, const std::uint8_t* data,
                                   std::uint32_t length, StreamPrefixPool& pool, LearntName& out) {
    out.source = NameSource::Quic;
    if (flow.finished) {
        return NameStatus::Absent;
    }
    const NameStatus nothing = flow.crypto.slot >= 0 ? NameStatus::NeedMore : NameStatus::Absent;
    if (length < minimumClientDatagram || !ready()) {
        return nothing;
    }
    const FrameBytes datagram(data, length);
    bool opened = false, grew = false;
    NameStatus status = NameStatus::NeedMore;
    // The coalesced long-header packets, one after the other; a short header runs to the end.
    for (std::uint32_t at = 0; status == NameStatus::NeedMore && datagram.has(at, 7) &&
                               (datagram.byte(at) & 0x80) != 0;) {
        const std::uint32_t version =
            static_cast<std::uint32_t>(datagram.word(at + 1)) << 16 | datagram.word(at + 3);
        const VersionRules* rules = rulesOf(version);
        const std::uint8_t type = (datagram.byte(at) >> 4) & 0x03;
        if (rules == nullptr || type == rules->retryType) {
            break;  // version negotiation, a version not read, or a Retry: no Length to follow
        }
        Packet packet{data + at, 0, 0, version, nullptr, 0};
        std::uint32_t p = at + 5;
        packet.connectionIdLength = datagram.byte(p);
        packet.connectionId = datagram.at(p + 1);
        p += 1 + packet.connectionIdLength;
        if (packet.connectionIdLength > maxConnectionIdLength || !datagram.has(p, 1) ||
            datagram.byte(p) > maxConnectionIdLength) {
            break;
        }
        p += 1 + datagram.byte(p);
        std::uint64_t token = 0, packetLength = 0;
        if (type == rules->initialType && (!varint(datagram, p, token) || token > length - p)) {
            break;
        }
        p += static_cast<std::uint32_t>(token);
        if (!varint(datagram, p, packetLength) || packetLength > length - p) {
            break;
        }
        packet.numberOffset = p - at;
        packet.length = packet.numberOffset + static_cast<std::uint32_t>(packetLength);
        at = p + static_cast<std::uint32_t>(packetLength);
        std::uint32_t plainLength = 0;
        if (type == rules->initialType && open(flow, packet, plainLength)) {
            opened = true;
            status = readFrames(flow, plainLength, pool, grew, out);
        }
    }
    if (status == NameStatus::NeedMore && grew) {
        status = readClientHello(pool.bytes(flow.crypto), flow.crypto.contiguous, out);
        if (status == NameStatus::NeedMore && flow.crypto.contiguous == streamPrefixBytes) {
            status = NameStatus::TooLong;
        }
    }
    if (status != NameStatus::NeedMore) {
        flow.finished = true;
        pool.release(flow.crypto);
        return status;
    }
    return opened ? NameStatus::NeedMore : nothing;
}

void QuicInitialReader::end(QuicClientFlow& flow, StreamPrefixPool& pool) {
    pool.release(flow.crypto);
    flow.finished = true;
}

}  // namespace tidewrack
