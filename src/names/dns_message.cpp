// Reading DNS responses: the questions, then the answer section, record by record, keeping the
// A, AAAA and CNAME answers; then the CNAME chain from the question is followed to tell which
// addresses it led to.
#include "names/dns_message.h"

#include <cstring>

namespace tidewrack {

namespace {

constexpr std::uint32_t headerLength = 12;
constexpr std::uint16_t typeA = 1, typeCname = 5, typeAaaa = 28;
constexpr std::uint16_t classIn = 1;
// mDNS uses the top bit of a record's class as its cache-flush flag.
constexpr std::uint16_t classMask = 0x7FFF;

// Reads the name at `offset` into `out`, moving `offset` past the name's bytes in place (up to
// and with its first pointer). False when the name breaks a rule of the file's header comment.
bool readName(const FrameBytes& message, std::uint32_t& offset, WireName& out) {
    std::uint32_t at = offset;
    std::uint32_t pieceStart = offset;  // every pointer must point before this
    std::uint32_t pointers = 0;
    bool jumped = false;
    std::uint16_t length = 0;
    for (;;) {
        if (!message.has(at, 1)) {
            return false;
        }
        const std::uint8_t first = message.byte(at);
        if ((first & 0xC0) == 0xC0) {
            if (!message.has(at, 2)) {
                return false;
            }
            const std::uint32_t target =
                static_cast<std::uint32_t>(first & 0x3F) << 8 | message.byte(at + 1);
            if (target >= pieceStart || ++pointers > maxDnsPointers) {
                return false;
            }
            if (!jumped) {
                offset = at + 2;
                jumped = true;
            }
            at = pieceStart = target;
            continue;
        }
        if ((first & 0xC0) != 0) {
            return false;  // the extended (0x40) and reserved (0x80) label types
        }
        const std::uint32_t step = 1u + first;
        if (length + step > maxNameBytes || !message.has(at, step)) {
            return false;
        }
        std::memcpy(out.bytes + length, message.at(at), step);
        length = static_cast<std::uint16_t>(length + step);
        at += step;
        if (first == 0) {
            if (!jumped) {
                offset = at;
            }
            out.length = length;
            return true;
        }
    }
}

std::uint32_t word32(const FrameBytes& message, std::uint32_t offset) {
    return static_cast<std::uint32_t>(message.word(offset)) << 16 | message.word(offset + 2);
}

// True when `name` is the target of a CNAME answer that the question led to.
bool reachedByCname(const DnsResponse& response, const bool (&linked)[maxDnsCnames],
                    const WireName& name) {
    for (std::uint32_t k = 0; k < response.cnameCount; ++k) {
        if (linked[k] && sameName(response.cnameTarget[k], name)) {
            return true;
        }
    }
    return false;
}

// Marks the addresses that the question's CNAME chain leads to.
void followCnames(DnsResponse& response) {
    if (response.cnameCount == 0) {
        return;  // every address was marked as not reached when it was read
    }
    bool linked[maxDnsCnames] = {};
    for (bool grew = true; grew;) {
        grew = false;
        for (std::uint32_t j = 0; j < response.cnameCount; ++j) {
            if (!linked[j] && (sameName(response.cnameOwner[j], response.question) ||
                               reachedByCname(response, linked, response.cnameOwner[j]))) {
                linked[j] = grew = true;
            }
        }
    }
    for (std::uint32_t i = 0; i < response.addressCount; ++i) {
        DnsAddress& address = response.addresses[i];
        address.viaCname = !sameName(address.owner, response.question) &&
                           reachedByCname(response, linked, address.owner);
    }
}

}  // namespace

DnsReading readDnsResponse(const std::uint8_t* data, std::uint32_t length, DnsResponse& out) {
    out.hasQuestion = false;
    out.addressCount = out.addressesLeftOut = out.cnameCount = 0;
    const FrameBytes message(data, length);
    if (!message.has(0, headerLength)) {
        return DnsReading::Malformed;
    }
    const std::uint8_t flags = message.byte(2);
    if ((flags & 0x80) == 0 || ((flags >> 3) & 0x0F) != 0) {
        return DnsReading::NotResponse;
    }
    const std::uint32_t questions = message.word(4), answers = message.word(6);
    std::uint32_t at = headerLength;
    WireName& scratch = out.scratch;
    for (std::uint32_t i = 0; i < questions; ++i) {
        if (!readName(message, at, i == 0 ? out.question : scratch) || !message.has(at, 4)) {
            return DnsReading::Malformed;
        }
        at += 4;
    }
    out.hasQuestion = questions > 0;
    DnsAddress& spare = out.spare;
    for (std::uint32_t i = 0; i < answers; ++i) {
        DnsAddress& slot =
            out.addressCount < maxDnsAddresses ? out.addresses[out.addressCount] : spare;
        if (!readName(message, at, slot.owner) || !message.has(at, 10)) {
            return DnsReading::Malformed;
        }
        const std::uint16_t type = message.word(at);
        const std::uint16_t recordClass =
            static_cast<std::uint16_t>(message.word(at + 2) & classMask);
        const std::uint32_t ttl = word32(message, at + 4);
        const std::uint16_t dataLength = message.word(at + 8);
        const std::uint32_t data = at + 10;
        if (!message.has(data, dataLength)) {
            return DnsReading::Malformed;
        }
        at = data + dataLength;
        if (recordClass != classIn) {
            continue;
        }
        if (type == typeA || type == typeAaaa) {
            const std::uint16_t size = type == typeA ? 4 : 16;
            if (dataLength != size) {
                return DnsReading::Malformed;
            }
            if (&slot == &spare) {
                ++out.addressesLeftOut;
                continue;
            }
            slot.ipv6 = type == typeAaaa;
            std::memset(slot.address, 0, sizeof slot.address);
            std::memcpy(slot.address, message.at(data), size);
            slot.ttl = ttl;
            slot.viaCname = false;
            ++out.addressCount;
        } else if (type == typeCname) {
            std::uint32_t end = data;
            WireName& target =
                out.cnameCount < maxDnsCnames ? out.cnameTarget[out.cnameCount] : scratch;
            if (!readName(message, end, target) || end != at) {
                return DnsReading::Malformed;
            }
            if (&target != &scratch) {
                WireName& owner = out.cnameOwner[out.cnameCount++];
                owner.length = slot.owner.length;
                std::memcpy(owner.bytes, slot.owner.bytes, owner.length);
            }
        }
    }
    if (out.hasQuestion) {
        followCnames(out);
    }
    return DnsReading::Response;
}

bool nextTcpDnsMessage(const std::uint8_t* data, std::uint32_t length, std::uint32_t& offset,
                       std::uint32_t& messageStart, std::uint32_t& messageLength) {
    const FrameBytes stream(data, length);
    if (!stream.has(offset, 2) || !stream.has(offset + 2, stream.word(offset))) {
        return false;
    }
    messageStart = offset + 2;
    messageLength = stream.word(offset);
    offset = messageStart + messageLength;
    return true;
}

}  // namespace tidewrack
