// A little-endian pcapng writer: section header, interface description with if_tsresol 9,
// enhanced packet blocks.
#include "tracekit/pcapng_writer.h"

#include <fstream>
#include <stdexcept>

namespace tracekit {

void writePcapng(const std::string& path, const std::vector<Record>& records) {
    std::string out;
    putLittle(out, 0x0A0D0D0A, 4);  // section header block
    putLittle(out, 28, 4);
    putLittle(out, 0x1A2B3C4D, 4);  // byte-order magic
    putLittle(out, 1, 2);           // version 1.0
    putLittle(out, 0, 2);
    putLittle(out, ~0ull, 8);  // section length unknown
    putLittle(out, 28, 4);
    putLittle(out, 1, 4);  // interface description block
    putLittle(out, 32, 4);
    putLittle(out, DLT_EN10MB, 2);
    putLittle(out, 0, 2);
    putLittle(out, 65535, 4);  // snapshot length
    putLittle(out, 9, 2);      // if_tsresol: 10^-9 seconds
    putLittle(out, 1, 2);
    putLittle(out, 9, 4);
    putLittle(out, 0, 4);  // end of options
    putLittle(out, 32, 4);
    for (const Record& r : records) {
        const std::uint32_t captured = r.capturedLength == UINT32_MAX
                                           ? static_cast<std::uint32_t>(r.frame.size())
                                           : r.capturedLength;
        const std::uint32_t padded = (captured + 3) / 4 * 4;
        const std::uint64_t time = static_cast<std::uint64_t>(r.seconds) * 1000000000u +
                                   static_cast<std::uint64_t>(r.microseconds);
        putLittle(out, 6, 4);  // enhanced packet block
        putLittle(out, 32 + padded, 4);
        putLittle(out, 0, 4);  // interface 0
        putLittle(out, time >> 32, 4);
        putLittle(out, time & 0xFFFFFFFF, 4);
        putLittle(out, captured, 4);
        putLittle(out, r.wireLength != 0 ? r.wireLength : captured, 4);
        Bytes data = r.frame;
        data.resize(padded, 0);
        out.append(data.begin(), data.end());
        putLittle(out, 32 + padded, 4);
    }
    std::ofstream file(path, std::ios::binary);
    if (!(file << out)) {
        throw std::runtime_error("cannot write trace " + path);
    }
}

}  // namespace tracekit
