// Formatting cells for people and for scripts, kind by kind.
#include "report/cell_text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "report/escaped_text.h"
#include "report/ip_address.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

namespace {

// address:port, [IPv6 address]:port, or the address alone.
std::string endText(const Cell& cell) {
    const std::string address = ipAddressText(cell.text);
    if (cell.number < 0) {
        return address;
    }
    return (cell.text.size() == 16 ? '[' + address + ']' : address) + ':' +
           std::to_string(cell.number);
}

// "0.486 s", "12 min 5 s", "3 h 02 min", "2 d 04 h", "6 years 2 d" (years of 365 days).
std::string durationText(std::int64_t microseconds) {
    const std::int64_t seconds = microseconds / microsecondsPerSecond;
    char text[48];
    if (seconds < 60) {
        std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
    } else if (seconds < 3600) {
        std::snprintf(text, sizeof text, "%d min %d s", static_cast<int>(seconds / 60),
                      static_cast<int>(seconds % 60));
    } else if (seconds < 86400) {
        std::snprintf(text, sizeof text, "%d h %02d min", static_cast<int>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60));
    } else if (seconds < 365 * 86400) {
        std::snprintf(text, sizeof text, "%lld d %02d h", static_cast<long long>(seconds / 86400),
                      static_cast<int>(seconds / 3600 % 24));
    } else {
        const long long years = seconds / (365 * 86400);
        std::snprintf(text, sizeof text, "%lld %s %d d", years, years == 1 ? "year" : "years",
                      static_cast<int>(seconds / 86400 % 365));
    }
    return text;
}

// "24.000 ms", "0.120 ms".
std::string delayText(std::int64_t microseconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%03lld ms", static_cast<long long>(microseconds / 1000),
                  static_cast<long long>(microseconds % 1000));
    return text;
}

// A rate's value per second, or nothing over no time.
std::optional<double> perSecond(const Cell& cell) {
    if (cell.null || cell.whole <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(cell.number) * 1e6 / static_cast<double>(cell.whole);
}

// "840 bit/s", "37.3 kbit/s", "12 Mbit/s" (powers of 1,000); "16.0", "1,234" frames a second.
std::string rateText(double value, Kind kind) {
    char text[32];
    if (kind == Kind::FrameRate) {
        if (value >= 999.95) {
            return groupDigits(static_cast<std::uint64_t>(value + 0.5));
        }
        std::snprintf(text, sizeof text, "%.1f", value);
        return text;
    }
    constexpr const char* units[] = {"bit/s", "kbit/s", "Mbit/s", "Gbit/s", "Tbit/s"};
    std::size_t unit = 0;
    while (value >= 999.95 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

// Seconds with six decimals: "0.486500".
std::string secondsText(std::int64_t microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld",
                  static_cast<long long>(microseconds / microsecondsPerSecond),
                  static_cast<long long>(microseconds % microsecondsPerSecond));
    return text;
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

// Whether the cell is null as scripts see it: a time in UTC is, on an axis without dates.
bool rawNull(const Cell& cell, Kind kind, const TimeAxis& axis) {
    return cell.null || (kind == Kind::UtcTime && !axis.dated) ||
           ((kind == Kind::BitRate || kind == Kind::FrameRate) && !perSecond(cell)) ||
           (kind == Kind::Ratio && cell.whole == 0);
}

// The value of a kind that is one text or number, as JSON and CSV write it (JSON quotes the
// textual kinds); "" for null.
std::string rawText(const Cell& cell, Kind kind, const TimeAxis& axis) {
    if (kind == Kind::Ports || kind == Kind::Names) {
        return joined(cell.items, " ");
    }
    if (rawNull(cell, kind, axis)) {
        return "";
    }
    switch (kind) {
    case Kind::Text:
    case Kind::Protocol: return cell.text;
    case Kind::Address: return ipAddressText(cell.text);
    case Kind::End: return endText(cell);
    case Kind::Time: return formatTimeOfDay(cell.number);
    case Kind::UtcTime: return axis.utcText(cell.number);
    case Kind::Interval: return formatTimeOfDay(cell.number).substr(0, 8);
    case Kind::Duration:
    case Kind::Delay: return secondsText(cell.number);
    case Kind::Share:
    case Kind::Ratio: {
        char text[32];
        const double value = fraction(cell);
        return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
    }
    case Kind::BitRate:
    case Kind::FrameRate: {
        char text[48];
        std::snprintf(text, sizeof text, "%.3f", *perSecond(cell));
        return text;
    }
    default: return std::to_string(cell.number);
    }
}

bool quoted(Kind kind) {
    return kind == Kind::Text || kind == Kind::Address || kind == Kind::End ||
           kind == Kind::Protocol || kind == Kind::Time || kind == Kind::UtcTime ||
           kind == Kind::Interval;
}

// What the name of a second value that a column of `kind` takes adds to its key; empty for a
// kind of one value.
std::string_view secondValueName(Kind kind) {
    switch (kind) {
    case Kind::End: return "_port";
    case Kind::Protocol: return "_family";
    case Kind::Share:
    case Kind::Ratio:
    case Kind::BitRate:
    case Kind::FrameRate: return "_whole";
    default: return "";
    }
}

}  // namespace

double fraction(const Cell& share) {
    return share.whole == 0 ? 0.0
                            : static_cast<double>(share.number) / static_cast<double>(share.whole);
}

bool isNumber(Kind kind) {
    return kind == Kind::Count || kind == Kind::Bytes || kind == Kind::Number ||
           kind == Kind::Port || kind == Kind::Duration || kind == Kind::Delay ||
           kind == Kind::Share || kind == Kind::Change || kind == Kind::Ratio ||
           kind == Kind::BitRate || kind == Kind::FrameRate;
}

std::string capitalized(std::string_view title) {
    std::string text(title);
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    }
    return text;
}

std::string peopleText(const Cell& cell, Kind kind, const TimeAxis& axis) {
    switch (kind) {
    case Kind::Count:
    case Kind::Bytes: return groupDigits(static_cast<std::uint64_t>(cell.number));
    case Kind::Port: return cell.null ? "*" : std::to_string(cell.number);
    case Kind::Protocol:
        // A name that says IPv6 already (IPv6-ICMP) is said as it is.
        return cell.null ? "-"
               : cell.number == 6 && cell.text.find("IPv6") == std::string::npos
                   ? cell.text + " (IPv6)"
                   : cell.text;
    case Kind::Time:
    case Kind::UtcTime: return cell.null ? "-" : axis.timeText(cell.number);
    case Kind::Interval: return axis.intervalText(cell.number);
    case Kind::Duration: return cell.null || cell.number < 0 ? "-" : durationText(cell.number);
    case Kind::Delay: return cell.null || cell.number < 0 ? "-" : delayText(cell.number);
    case Kind::Share:
    case Kind::Ratio: {
        if (rawNull(cell, kind, axis)) {
            return "-";
        }
        char text[32];
        std::snprintf(text, sizeof text, kind == Kind::Ratio ? "%+.1f %%" : "%.1f %%",
                      100.0 * fraction(cell));
        return text;
    }
    case Kind::Change:
        return cell.null         ? "-"
               : cell.number < 0 ? '-' + groupDigits(static_cast<std::uint64_t>(-cell.number))
                                 : '+' + groupDigits(static_cast<std::uint64_t>(cell.number));
    case Kind::BitRate:
    case Kind::FrameRate: {
        const std::optional<double> value = perSecond(cell);
        return value ? rateText(*value, kind) : "-";
    }
    case Kind::Ports: return cell.items.empty() ? "-" : joined(cell.items, ",");
    case Kind::Names: return cell.items.empty() ? "none" : joined(cell.items, ", ");
    default: return cell.null ? "-" : rawText(cell, kind, axis);
    }
}

nlohmann::ordered_json jsonValue(const Cell& cell, Kind kind, const TimeAxis& axis) {
    using Json = nlohmann::ordered_json;
    // A number's raw text is written as JSON writes numbers; the library reads it back.
    if (kind == Kind::Ports) {
        Json ports = Json::array();
        for (const std::string& item : cell.items) {
            ports.push_back(Json::parse(item));
        }
        return ports;
    }
    if (kind == Kind::Names) {
        return cell.items;
    }
    if (rawNull(cell, kind, axis)) {
        return nullptr;
    }
    const std::string raw = rawText(cell, kind, axis);
    return quoted(kind) ? Json(raw) : Json::parse(raw);
}

std::string csvValue(const Cell& cell, Kind kind, const TimeAxis& axis) {
    return rawText(cell, kind, axis);
}

void checkValueNames(const Statement& statement, std::span<const Column> columns,
                     std::string_view what) {
    std::vector<std::string> names;
    for (const Column& column : columns) {
        if (!column.nameOf.empty()) {
            continue;  // looked up, not read
        }
        names.emplace_back(column.key);
        if (const std::string_view second = secondValueName(column.kind); !second.empty()) {
            names.push_back(std::string(column.key).append(second));
        }
    }
    const auto count = static_cast<std::size_t>(statement.columnCount());
    for (std::size_t i = 0; i < std::max(count, names.size()); ++i) {
        const std::string_view found =
            i < count ? statement.columnName(static_cast<int>(i)) : "nothing";
        if (i >= names.size() || found != names[i]) {
            throw std::logic_error(std::string(what) + ": value " + std::to_string(i + 1) + " is " +
                                   std::string(found) + ", where its columns want " +
                                   (i < names.size() ? names[i] : "none"));
        }
    }
}

Cell readCell(const Statement& statement, int& column, Kind kind) {
    Cell cell;
    const int at = column++;
    cell.null = statement.isNull(at);
    switch (kind) {
    case Kind::Text:
    case Kind::Address: cell.text = statement.text(at); break;
    case Kind::End:
        cell.text = statement.text(at);
        cell.number = statement.isNull(column) ? -1 : statement.integer(column);
        ++column;
        break;
    case Kind::Protocol:
        cell.text = statement.text(at);
        cell.number = statement.integer(column++);
        break;
    case Kind::Share:
    case Kind::Ratio:
    case Kind::BitRate:
    case Kind::FrameRate:
        cell.number = statement.integer(at);
        cell.whole = statement.integer(column++);
        break;
    case Kind::Ports: {
        // A list from group_concat, in no promised order: the ports ascending.
        std::vector<int> ports;
        const std::string_view text = statement.text(at);
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find(',', start);
            end = end == std::string_view::npos ? text.size() : end;
            int port = 0;
            std::from_chars(text.data() + start, text.data() + end, port);
            ports.push_back(port);
            start = end + 1;
        }
        std::sort(ports.begin(), ports.end());
        for (const int port : ports) {
            cell.items.push_back(std::to_string(port));
        }
        break;
    }
    case Kind::Names: {  // a list of texts joined by commas, in the order given
        const std::string_view text = statement.text(at);
        for (std::size_t start = 0; !cell.null && start <= text.size();) {
            const std::size_t end = std::min(text.find(',', start), text.size());
            cell.items.emplace_back(text.substr(start, end - start));
            start = end + 1;
        }
        break;
    }
    default: cell.number = statement.integer(at);
    }
    return cell;
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

std::string counted(std::uint64_t n, const char* one, const char* many) {
    return groupDigits(n) + ' ' + (n == 1 ? one : many);
}

std::string byteSize(std::uint64_t bytes) {
    constexpr const char* units[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1000 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 || value >= 10 ? "%.0f %s" : "%.1f %s", value,
                  units[unit]);
    return text;
}

std::string intervalWidth(std::int64_t microseconds) {
    const std::int64_t seconds = microseconds / microsecondsPerSecond;
    return seconds >= 86400  ? groupDigits(static_cast<std::uint64_t>(seconds / 86400)) + " d"
           : seconds >= 3600 ? std::to_string(seconds / 3600) + " h"
           : seconds >= 60   ? std::to_string(seconds / 60) + " min"
                             : std::to_string(seconds) + " s";
}

}  // namespace tidewrack::report
