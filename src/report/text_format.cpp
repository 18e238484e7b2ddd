// Number and address texts shared by the report's outputs.
#include "report/text_format.h"

#include <cstdio>

namespace tidewrack::report {

std::string formatAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFFu,
                  (address >> 8) & 0xFFu, address & 0xFFu);
    return text;
}

std::string formatEnd(std::uint32_t address, std::uint16_t port) {
    return formatAddress(address) + ':' + std::to_string(port);
}

std::string groupDigits(std::uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return grouped;
}

std::string formatDuration(std::int64_t microseconds) {
    if (microseconds < 0) {
        return "-";
    }
    const std::int64_t seconds = microseconds / 1000000;
    char text[48];
    if (seconds < 60) {
        std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
    } else if (seconds < 3600) {
        std::snprintf(text, sizeof text, "%d min %d s", static_cast<int>(seconds / 60),
                      static_cast<int>(seconds % 60));
    } else if (seconds < 86400) {
        std::snprintf(text, sizeof text, "%d h %02d min", static_cast<int>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld d %02d h", static_cast<long long>(seconds / 86400),
                      static_cast<int>(seconds / 3600 % 24));
    }
    return text;
}

std::string formatSeconds(std::int64_t microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(microseconds / 1000000),
                  static_cast<long long>(microseconds % 1000000));
    return text;
}

std::string joinPorts(const std::vector<std::uint16_t>& ports, const char* separator) {
    std::string text;
    for (const std::uint16_t port : ports) {
        if (!text.empty()) {
            text += separator;
        }
        text += std::to_string(port);
    }
    return text;
}

std::string formatShare(std::uint64_t part, std::uint64_t whole) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%",
                  whole == 0 ? 0.0
                             : 100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

}  // namespace tidewrack::report
