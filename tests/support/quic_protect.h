// Protecting a QUIC client Initial packet as a client does (RFC 9001 section 5), so
// that the tests and the names fuzzer can make packets, whatever their frames, that the reader
// of Initial packets must open. The cryptography is libcrypto's.
#pragma once

#include <cstdint>
#include <vector>

#include "names/quic_initial.h"

namespace testkit {

// An Initial packet to `connectionId` with packet number `number` (sent in four bytes) whose
// payload is `frames`, padded with PADDING frames to make a datagram of `datagramSize` bytes
// when they are shorter. The header names `version`, and has version 1's packet type bits.
std::vector<std::uint8_t> protectClientInitial(const tidewrack::QuicKeys& keys,
                                               const std::vector<std::uint8_t>& connectionId,
                                               std::uint32_t number,
                                               std::vector<std::uint8_t> frames,
                                               std::size_t datagramSize = 1200,
                                               std::uint32_t version = tidewrack::quicVersion1);

}  // namespace testkit
