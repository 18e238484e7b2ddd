// The statement formatter against vsnprintf itself: the same text and the same result for
// every statement of the traffic database with ordinary and extreme values, for buffers too
// small, and for conversions it leaves to vsnprintf.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "db/traffic_schema.h"
#include "run/statement_format.h"

using tidewrack::formatStatement;
namespace sql = tidewrack::sql;

namespace {

constexpr char untouched = 'X';
constexpr std::size_t guard = 8;  // bytes after the buffer that must stay as they were

struct Formatted {
    int length;
    std::string text;
    bool guardIntact;
};

Formatted run(bool reference, std::size_t size, const char* format, va_list args) {
    std::vector<char> buffer(size + guard, untouched);
    const int length = reference ? std::vsnprintf(buffer.data(), size, format, args)
                                 : formatStatement(buffer.data(), size, format, args);
    bool intact = true;
    for (std::size_t i = size; i < buffer.size(); ++i) {
        intact = intact && buffer[i] == untouched;
    }
    return {length, std::string(buffer.data()), intact};
}

// Formats with formatStatement, or with vsnprintf when `reference` is true.
Formatted formatWith(bool reference, std::size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Formatted f = run(reference, size, format, args);
    va_end(args);
    return f;
}

template <typename... Args>
void expectSame(std::size_t size, const char* format, Args... args) {
    const Formatted a = formatWith(false, size, format, args...);
    const Formatted b = formatWith(true, size, format, args...);
    EXPECT_EQ(a.length, b.length) << format << " in " << size << " bytes";
    EXPECT_EQ(a.text, b.text) << format << " in " << size << " bytes";
    EXPECT_TRUE(a.guardIntact) << format << " wrote past " << size << " bytes";
}

}  // namespace

TEST(StatementFormat, EveryStatementAsVsnprintfWritesIt) {
    const int numbers[] = {0, 7, 255, 65535, 999999, 1000000, -1, -42, INT_MAX, INT_MIN};
    for (int n : numbers) {
        expectSame(2048, sql::insertFrameFormat, n, 192, 168, 1, 10, n, 10, 0, 0, 1, 80, "TCP",
                   "SYN ACK ", "14:03:07", n, static_cast<unsigned>(n));
        expectSame(2048, sql::insertIcmpFormat, n, 1, 2, 3, 4, 5, 6, 7, "DESTINATION UNREACHABLE",
                   "Destination port unreachable");
        expectSame(2048, sql::insertTcpFormat, 1, 2, 3, 4, n, 5, 6, 7, 8, 443, "HTTPS");
        expectSame(2048, sql::insertUdpFormat, 1, 2, 3, 4, 5, 6, 7, 8, n, "EPHEMERAL");
    }
    expectSame(2048, sql::insertFrameFormat, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "UNASSIGNED", "",
               "--:--:--", 42, UINT_MAX);
    for (const char* name : {"Any_0-hop ", "TP++", "AX.25", "A/N", ""}) {
        expectSame(2048, sql::insertRawFormat, name, 1, 2, 3, 4, 5, 6, 7, 8);
        expectSame(2048, sql::createRawFormat, name);
        expectSame(2048, sql::createFlowFormat, name, name);
        expectSame(2048, sql::insertProtocolFormat, name);
        expectSame(2048, sql::dropRawFormat, name);
    }
}

TEST(StatementFormat, TextThatDoesNotFitIsCutAndMeasuredAsVsnprintfDoes) {
    const std::string full =
        formatWith(true, 2048, sql::insertFrameFormat, 123456, 192, 168, 1, 10, 51000, 10, 0, 0, 1,
                   443, "TCP", "SYN ACK ", "14:03:07", 42, 1514u)
            .text;
    for (std::size_t size = 1; size <= full.size() + 2; ++size) {
        expectSame(size, sql::insertFrameFormat, 123456, 192, 168, 1, 10, 51000, 10, 0, 0, 1, 443,
                   "TCP", "SYN ACK ", "14:03:07", -42, 1514u);
    }
}

TEST(StatementFormat, OtherConversionsAreLeftToVsnprintf) {
    expectSame(64, "%x|%5d|%-4s|%%|%.0d|%.3s|%c", 255, 42, "ab", 0, "abcdef", 'z');
    expectSame(64, "%.12d and %ld", 42, 7L);
    expectSame(64, "%s then %d", static_cast<const char*>(nullptr), 5);
    expectSame(8, "%d%d%d%x", 1234, 5678, 9, 255);
    expectSame(64, "no conversion at all");
    expectSame(64, "ends in %", 0);
}
