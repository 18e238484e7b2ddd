// Length-checked reads of a captured frame. Every byte of a packet that the program uses is
// fetched through FrameBytes, which knows the captured length and answers 0 for a byte that
// was not captured, so that no reader can go past the end of what libpcap delivered.
#pragma once

#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tidewrack {

class FrameBytes {
  public:
    FrameBytes(const u_char* data, std::uint32_t capturedLength)
        : data(data), length(capturedLength) {}

    // True when the `count` bytes from `offset` on were captured.
    bool has(std::uint32_t offset, std::uint32_t count) const {
        return offset <= length && count <= length - offset;
    }
    std::uint8_t byte(std::uint32_t offset) const { return has(offset, 1) ? data[offset] : 0; }
    // The big-endian 16-bit word at `offset`.
    std::uint16_t word(std::uint32_t offset) const {
        return has(offset, 2) ? static_cast<std::uint16_t>(data[offset] << 8 | data[offset + 1])
                              : 0;
    }
    // Copies the `N` bytes from `offset` on into `out`, or zeros when they were not all captured.
    template <std::size_t N>
    void copy(std::uint32_t offset, std::uint8_t (&out)[N]) const {
        if (has(offset, N)) {
            std::memcpy(out, data + offset, N);
        } else {
            std::memset(out, 0, N);
        }
    }
    // The bytes captured from `offset` on: 0 when the frame ends before it.
    std::uint32_t capturedFrom(std::uint32_t offset) const {
        return offset < length ? length - offset : 0;
    }
    // Where `offset` lies in the frame, or its end when the frame is shorter.
    const u_char* at(std::uint32_t offset) const {
        return data + (has(offset, 0) ? offset : length);
    }

  private:
    const u_char* data;
    std::uint32_t length;
};

}  // namespace tidewrack
