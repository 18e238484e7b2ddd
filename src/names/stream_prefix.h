// Bounded reassembly of the first bytes of a stream: the first streamPrefixBytes bytes of one
// direction of a TCP connection (or of a QUIC connection's CRYPTO stream), each segment placed
// at its offset, so that segments that come out of order, twice, or overlapping give the
// stream's bytes as they were sent. What lies beyond the prefix is dropped.
//
// A byte that has arrived once keeps its value: a later segment only fills the gaps, so that
// what was read from the contiguous bytes never changes under the reader. Offsets count from
// the byte after the SYN's sequence number when the SYN was seen, else from the first segment
// that arrives; sequence numbers wrap as TCP's do.
//
// The buffers come from a pool allocated once, with a bitmap of the bytes received beside each;
// a stream takes one at its first byte inside the prefix and gives it back as soon as its name
// is found or given up. A stream that finds the pool empty keeps no bytes (and so gets no name);
// the per-packet path allocates nothing. The memory kept is bounded per stream by
// streamPrefixBytes and in all by the pool's buffer count times that.
#pragma once

#include <cstdint>
#include <memory>

namespace tidewrack {

// Bytes kept per stream. A TLS 1.3 ClientHello with a hybrid post-quantum key share is about
// 1.8 kB, with two such shares and an ECH extension about 3.5 kB; 8 KiB also leaves room for the
// long header lines some HTTP clients send before Host.
inline constexpr std::uint32_t streamPrefixBytes = 8192;
// Buffers in the program's pool: 512 streams in the middle of their first bytes at once, 4 MiB
// of buffers and 512 KiB of bitmaps, touched only as they are used.
inline constexpr std::uint32_t streamPrefixBuffers = 512;
static_assert(streamPrefixBytes % 64 == 0, "the bitmap is kept in 64-bit words");

// What is kept of one stream direction between its segments.
struct StreamPrefix {
    std::int32_t slot = -1;        // the pool buffer holding the bytes, or -1
    std::uint32_t base = 0;        // the sequence number of offset 0, once `based`
    std::uint32_t contiguous = 0;  // bytes from offset 0 on that have all arrived
    bool based = false;
};

enum class Placement : std::uint8_t {
    Grew,       // the contiguous bytes from offset 0 on grew
    Unchanged,  // kept, or dropped as lying beyond the prefix, but no new contiguous byte
    NoBuffer,   // the stream has no buffer and the pool has none left: nothing was kept
};

class StreamPrefixPool {
  public:
    explicit StreamPrefixPool(std::uint32_t buffers = streamPrefixBuffers);

    // A TCP stream whose SYN had `sequence`: its offset 0 is the byte after.
    static void startAfterSyn(StreamPrefix& prefix, std::uint32_t sequence);
    // A TCP segment's `length` payload bytes at `data`, sent with `sequence`.
    Placement placeSegment(StreamPrefix& prefix, std::uint32_t sequence, const std::uint8_t* data,
                           std::uint32_t length);
    // `length` bytes at `data` that belong at `offset` of the stream.
    Placement placeAt(StreamPrefix& prefix, std::uint64_t offset, const std::uint8_t* data,
                      std::uint32_t length);

    // The stream's bytes from offset 0 on, of which prefix.contiguous have arrived; null
    // without a buffer.
    const std::uint8_t* bytes(const StreamPrefix& prefix) const;
    // Gives the stream's buffer back; the stream keeps its base.
    void release(StreamPrefix& prefix);

    std::uint32_t buffersInUse() const { return buffers - freeCount; }

  private:
    std::uint32_t buffers;
    std::uint32_t freeCount;
    std::unique_ptr<std::uint8_t[]> storage;    // buffers × streamPrefixBytes
    std::unique_ptr<std::uint64_t[]> received;  // one bit per byte of storage
    std::unique_ptr<std::int32_t[]> freeSlots;  // a stack of the free buffers
};

}  // namespace tidewrack
