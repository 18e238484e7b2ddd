// A little-endian pcapng writer: section header, interface description with if_tsresol 9,
// enhanced packet blocks.
#include "pcapng_writer.h"

#include <fstream>
#include <stdexcept>

namespace testkit {

namespace {

void put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>(value >> (8 * i) & 0xFF);
    }
}

}  // namespace

void writePcapng(const std::string& path, const std::vector<Record>& records) {
    std::string out;
    put(out, 0x0A0D0D0A, 4);  // section header block
    put(out, 28, 4);
    put(out, 0x1A2B3C4D, 4);  // byte-order magic
    put(out, 1, 2);           // version 1.0
    put(out, 0, 2);
    put(out, ~0ull, 8);  // section length unknown
    put(out, 28, 4);
    put(out, 1, 4);  // interface description block
    put(out, 32, 4);
    put(out, DLT_EN10MB, 2);
    put(out, 0, 2);
    put(out, 65535, 4);  // snapshot length
    put(out, 9, 2);      // if_tsresol: 10^-9 seconds
    put(out, 1, 2);
    put(out, 9, 4);
    put(out, 0, 4);  // end of options
    put(out, 32, 4);
    for (const Record& r : records) {
        const std::uint32_t captured = r.capturedLength == UINT32_MAX
                                           ? static_cast<std::uint32_t>(r.frame.size())
                                           : r.capturedLength;
        const std::uint32_t padded = (captured + 3) / 4 * 4;
        const std::uint64_t time = static_cast<std::uint64_t>(r.seconds) * 1000000000u +
                                   static_cast<std::uint64_t>(r.microseconds);
        put(out, 6, 4);  // enhanced packet block
        put(out, 32 + padded, 4);
        put(out, 0, 4);  // interface 0
        put(out, time >> 32, 4);
        put(out, time & 0xFFFFFFFF, 4);
        put(out, captured, 4);
        put(out, r.wireLength != 0 ? r.wireLength : captured, 4);
        Bytes data = r.frame;
        data.resize(padded, 0);
        out.append(data.begin(), data.end());
        put(out, 32 + padded, 4);
    }
    std::ofstream file(path, std::ios::binary);
    if (!(file << out)) {
        throw std::runtime_error("cannot write trace " + path);
    }
}

}  // namespace testkit
