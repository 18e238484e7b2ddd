// The pool of stream prefixes: placing bytes by offset into the gaps of a buffer, with a
// bitmap of the bytes that have arrived searched a 64-bit word at a time.
#include "names/stream_prefix.h"

#include <bit>
#include <cstring>

namespace tidewrack {

namespace {

constexpr std::uint32_t wordsPerBuffer = streamPrefixBytes / 64;

// The first index in [from, end) whose bit is `value`, or `end`.
std::uint32_t findBit(const std::uint64_t* words, std::uint32_t from, std::uint32_t end,
                      bool value) {
    while (from < end) {
        std::uint64_t word = words[from / 64];
        if (!value) {
            word = ~word;
        }
        word &= ~std::uint64_t{0} << (from % 64);
        if (word != 0) {
            const std::uint32_t found =
                (from & ~63u) + static_cast<std::uint32_t>(std::countr_zero(word));
            return found < end ? found : end;
        }
        from = (from & ~63u) + 64;
    }
    return end;
}

void setBits(std::uint64_t* words, std::uint32_t from, std::uint32_t end) {
    for (; from < end && from % 64 != 0; ++from) {
        words[from / 64] |= std::uint64_t{1} << (from % 64);
    }
    for (; from + 64 <= end; from += 64) {
        words[from / 64] = ~std::uint64_t{0};
    }
    for (; from < end; ++from) {
        words[from / 64] |= std::uint64_t{1} << (from % 64);
    }
}

}  // namespace

StreamPrefixPool::StreamPrefixPool(std::uint32_t buffers)
    : buffers(buffers), freeCount(buffers), storage(std::make_unique_for_overwrite<std::uint8_t[]>(
                                                std::size_t{buffers} * streamPrefixBytes)),
      received(
          std::make_unique_for_overwrite<std::uint64_t[]>(std::size_t{buffers} * wordsPerBuffer)),
      freeSlots(std::make_unique_for_overwrite<std::int32_t[]>(buffers)) {
    // Popped from the top: buffer 0 first.
    for (std::uint32_t i = 0; i < buffers; ++i) {
        freeSlots[i] = static_cast<std::int32_t>(buffers - 1 - i);
    }
}

void StreamPrefixPool::startAfterSyn(StreamPrefix& prefix, std::uint32_t sequence) {
    prefix.base = sequence + 1;
    prefix.based = true;
}

Placement StreamPrefixPool::placeSegment(StreamPrefix& prefix, std::uint32_t sequence,
                                         const std::uint8_t* data, std::uint32_t length) {
    if (!prefix.based) {
        prefix.base = sequence;
        prefix.based = true;
    }
    const auto offset = static_cast<std::int32_t>(sequence - prefix.base);
    if (offset >= 0) {
        return placeAt(prefix, static_cast<std::uint32_t>(offset), data, length);
    }
    // A segment that starts before offset 0 (a resent SYN's data, or bytes sent before the
    // first segment seen): only its part from offset 0 on counts.
    const std::uint32_t before = 0u - static_cast<std::uint32_t>(offset);
    if (before >= length) {
        return Placement::Unchanged;
    }
    return placeAt(prefix, 0, data + before, length - before);
}

Placement StreamPrefixPool::placeAt(StreamPrefix& prefix, std::uint64_t offset,
                                    const std::uint8_t* data, std::uint32_t length) {
    if (offset >= streamPrefixBytes || length == 0) {
        return Placement::Unchanged;
    }
    if (prefix.slot < 0) {
        if (freeCount == 0) {
            return Placement::NoBuffer;
        }
        prefix.slot = freeSlots[--freeCount];
        prefix.contiguous = 0;
        std::memset(received.get() + std::size_t(prefix.slot) * wordsPerBuffer, 0,
                    wordsPerBuffer * sizeof(std::uint64_t));
    }
    std::uint8_t* buffer = storage.get() + std::size_t(prefix.slot) * streamPrefixBytes;
    std::uint64_t* bits = received.get() + std::size_t(prefix.slot) * wordsPerBuffer;
    const auto begin = static_cast<std::uint32_t>(offset);
    const std::uint32_t end =
        length < streamPrefixBytes - begin ? begin + length : streamPrefixBytes;
    for (std::uint32_t at = begin; at < end;) {
        const std::uint32_t gap = findBit(bits, at, end, false);
        const std::uint32_t gapEnd = findBit(bits, gap, end, true);
        std::memcpy(buffer + gap, data + (gap - begin), gapEnd - gap);
        setBits(bits, gap, gapEnd);
        at = gapEnd;
    }
    if (begin > prefix.contiguous || end <= prefix.contiguous) {
        return Placement::Unchanged;
    }
    prefix.contiguous = findBit(bits, prefix.contiguous, streamPrefixBytes, false);
    return Placement::Grew;
}

const std::uint8_t* StreamPrefixPool::bytes(const StreamPrefix& prefix) const {
    return prefix.slot < 0 ? nullptr : storage.get() + std::size_t(prefix.slot) * streamPrefixBytes;
}

void StreamPrefixPool::release(StreamPrefix& prefix) {
    if (prefix.slot >= 0) {
        freeSlots[freeCount++] = prefix.slot;
        prefix.slot = -1;
    }
    prefix.contiguous = 0;
}

}  // namespace tidewrack
