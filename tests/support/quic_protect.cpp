// A client's Initial packet protection: AES-128-GCM over the payload with the header as
// associated data, then the header protection mask from AES-128-ECB of a sample.
#include "quic_protect.h"

#include <openssl/evp.h>

#include <cstring>

namespace testkit {

std::vector<std::uint8_t> protectClientInitial(const tidewrack::QuicKeys& keys,
                                               const std::vector<std::uint8_t>& connectionId,
                                               std::uint32_t number,
                                               std::vector<std::uint8_t> frames,
                                               std::size_t datagramSize, std::uint32_t version) {
    // Long header, Initial, four-byte packet number; no source ID, no token.
    std::vector<std::uint8_t> packet;
    packet.reserve(datagramSize + frames.size() + 64);
    packet.push_back(0xC3);
    for (int shift = 24; shift >= 0; shift -= 8) {
        packet.push_back(static_cast<std::uint8_t>(version >> shift));
    }
    packet.push_back(static_cast<std::uint8_t>(connectionId.size()));
    for (const std::uint8_t byte : connectionId) {
        packet.push_back(byte);
    }
    packet.push_back(0);
    packet.push_back(0);
    constexpr std::size_t lengthField = 2, numberLength = 4, tagLength = 16;
    const std::size_t overhead = packet.size() + lengthField + numberLength + tagLength;
    if (frames.size() + overhead < datagramSize) {
        frames.resize(datagramSize - overhead, 0);
    }
    const std::size_t length = numberLength + frames.size() + tagLength;  // below 2^14
    packet.push_back(static_cast<std::uint8_t>(0x40 | length >> 8));
    packet.push_back(static_cast<std::uint8_t>(length));
    const std::size_t numberOffset = packet.size();
    std::uint8_t nonce[12];
    std::memcpy(nonce, keys.iv, sizeof nonce);
    for (std::size_t i = 0; i < numberLength; ++i) {
        const auto byte = static_cast<std::uint8_t>(number >> (24 - 8 * i));
        packet.push_back(byte);
        nonce[sizeof nonce - numberLength + i] ^= byte;
    }
    const std::size_t header = packet.size();
    packet.resize(header + frames.size() + tagLength);
    int written = 0;
    EVP_CIPHER_CTX* gcm = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(gcm, EVP_aes_128_gcm(), nullptr, keys.key, nonce);
    EVP_EncryptUpdate(gcm, nullptr, &written, packet.data(), static_cast<int>(header));
    EVP_EncryptUpdate(gcm, packet.data() + header, &written, frames.data(),
                      static_cast<int>(frames.size()));
    EVP_EncryptFinal_ex(gcm, nullptr, &written);
    EVP_CIPHER_CTX_ctrl(gcm, EVP_CTRL_GCM_GET_TAG, tagLength,
                        packet.data() + header + frames.size());
    EVP_CIPHER_CTX_free(gcm);
    std::uint8_t mask[16];
    EVP_CIPHER_CTX* ecb = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ecb, EVP_aes_128_ecb(), nullptr, keys.hp, nullptr);
    EVP_EncryptUpdate(ecb, mask, &written, packet.data() + numberOffset + numberLength, 16);
    EVP_CIPHER_CTX_free(ecb);
    packet[0] ^= mask[0] & 0x0F;
    for (std::size_t i = 0; i < numberLength; ++i) {
        packet[numberOffset + i] ^= mask[1 + i];
    }
    return packet;
}

}  // namespace testkit
