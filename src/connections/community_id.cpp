// Ordering a flow's ends and hashing them into its Community ID.
#include "connections/community_id.h"

#include <openssl/evp.h>

#include <cstring>

namespace tidewrack {

namespace {

// Seed, two IPv6 addresses, protocol, padding and two ports: the longest input hashed.
constexpr std::size_t longestInput = 2 + 16 + 16 + 1 + 1 + 2 + 2;

void putWord(std::uint8_t*& at, std::uint16_t value) {
    *at++ = static_cast<std::uint8_t>(value >> 8);
    *at++ = static_cast<std::uint8_t>(value);
}

// SHA-1 and one context for every digest of the run, made on first use: EVP_Digest makes and
// frees a context each time, two allocations for every connection.
class Sha1 {
  public:
    Sha1() : digest(EVP_MD_fetch(nullptr, "SHA1", nullptr)), context(EVP_MD_CTX_new()) {}
    ~Sha1() {
        EVP_MD_CTX_free(context);
        EVP_MD_free(digest);
    }
    Sha1(const Sha1&) = delete;
    Sha1& operator=(const Sha1&) = delete;

    bool hash(const std::uint8_t* input, std::size_t length, std::uint8_t (&out)[20]) {
        unsigned int outLength = 0;
        return digest != nullptr && context != nullptr &&
               EVP_DigestInit_ex(context, digest, nullptr) == 1 &&
               EVP_DigestUpdate(context, input, length) == 1 &&
               EVP_DigestFinal_ex(context, out, &outLength) == 1 && outLength == sizeof out;
    }

  private:
    EVP_MD* digest;
    EVP_MD_CTX* context;
};

}  // namespace

void orderEnds(FlowTuple& flow, bool oneWay) {
    if (!sourceFirst(flow, oneWay)) {
        std::uint8_t address[16];
        std::memcpy(address, flow.source, sizeof address);
        std::memcpy(flow.source, flow.destination, sizeof address);
        std::memcpy(flow.destination, address, sizeof address);
        const std::uint16_t port = flow.sourcePort;
        flow.sourcePort = flow.destinationPort;
        flow.destinationPort = port;
    }
}

bool communityIdDigest(const FlowTuple& ordered, std::uint16_t seed, std::uint8_t (&digest)[20]) {
    std::uint8_t input[longestInput];
    std::uint8_t* at = input;
    putWord(at, seed);
    const std::size_t length = ordered.family == 6 ? 16 : 4;
    std::memcpy(at, ordered.source, length);
    at += length;
    std::memcpy(at, ordered.destination, length);
    at += length;
    *at++ = ordered.protocol;
    *at++ = 0;
    if (ordered.hasPorts && hashesPorts(ordered.protocol)) {
        putWord(at, ordered.sourcePort);
        putWord(at, ordered.destinationPort);
    }
    static Sha1 sha1;
    return sha1.hash(input, static_cast<std::size_t>(at - input), digest);
}

bool communityId(const FlowTuple& ordered, std::uint16_t seed, char (&text)[communityIdSize]) {
    std::uint8_t digest[20];
    text[0] = '\0';
    if (!communityIdDigest(ordered, seed, digest)) {
        return false;
    }
    // Base64 of 20 bytes is 28 characters; EVP_EncodeBlock adds the terminator.
    static_assert(communityIdSize == 2 + 28 + 1);
    unsigned char encoded[28 + 1];
    if (EVP_EncodeBlock(encoded, digest, sizeof digest) != 28) {
        return false;
    }
    text[0] = '1';
    text[1] = ':';
    std::memcpy(text + 2, encoded, sizeof encoded);
    return true;
}

}  // namespace tidewrack
