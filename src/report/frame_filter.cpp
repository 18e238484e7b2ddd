// Reading the filter's options, and filtering frames.
#include "report/frame_filter.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <string_view>

#include "report/calendar.h"
#include "report/report_error.h"
#include "report/time_of_day.h"
#include "vocabulary/protocol_names.h"

namespace tidewrack::report {

namespace {

// The value of the decimal digits of `text`, all of them; nothing for any other text.
std::optional<int> digits(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        text.front() == '-' || text.front() == '+') {
        return std::nullopt;
    }
    return value;
}

// Microseconds since midnight of "HH:MM", "HH:MM:SS" or "HH:MM:SS.f" (one to six digits).
std::optional<std::int64_t> clockTime(std::string_view text) {
    if (text.size() < 5 || text[2] != ':' || (text.size() > 5 && text[5] != ':')) {
        return std::nullopt;
    }
    const std::optional<int> hours = digits(text.substr(0, 2)), minutes = digits(text.substr(3, 2));
    std::optional<int> seconds = 0;
    std::int64_t fraction = 0;
    if (text.size() > 5) {
        const std::size_t dot = text.find('.', 6);
        seconds = text.size() == 8 || dot == 8 ? digits(text.substr(6, 2)) : std::nullopt;
        if (dot != std::string_view::npos) {
            const std::string_view decimals = text.substr(dot + 1);
            if (decimals.empty() || decimals.size() > 6 || !digits(decimals)) {
                return std::nullopt;
            }
            fraction = *digits(decimals);
            for (std::size_t i = decimals.size(); i < 6; ++i) {
                fraction *= 10;
            }
        }
    }
    if (!hours || !minutes || !seconds || *hours > 23 || *minutes > 59 || *seconds > 59) {
        return std::nullopt;
    }
    return ((*hours * 60 + *minutes) * 60 + *seconds) * microsecondsPerSecond + fraction;
}

std::optional<FilterChoice::Bound> bound(std::string_view text) {
    if (text.size() > 11 && (text[10] == ' ' || text[10] == 'T')) {
        const std::optional<std::int64_t> day = parseDate(text.substr(0, 10));
        const std::optional<std::int64_t> clock = clockTime(text.substr(11));
        if (!day || !clock) {
            return std::nullopt;
        }
        return FilterChoice::Bound{true, *day * microsecondsPerDay + *clock, {}};
    }
    const std::optional<std::int64_t> clock = clockTime(text);
    return clock ? std::optional(FilterChoice::Bound{false, *clock, {}}) : std::nullopt;
}

// Whether two protocol names are the same, letter case aside.
bool sameName(std::string_view x, std::string_view y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                      [&](char a, char b) { return lower(a) == lower(b); });
}

// Whether tidewrack names a protocol so, in its tables or as its decoder stores it.
bool isTidewracksName(std::string_view name) {
    const auto same = [&](const char* known) { return sameName(name, known); };
    return std::any_of(ProtocolNameTable.begin(), ProtocolNameTable.end(), same) ||
           std::any_of(DecoderProtocolNameTable.begin(), DecoderProtocolNameTable.end(), same);
}

// The least (`least`) or greatest value of the bounds of one kind, if any.
std::optional<std::int64_t> extreme(const std::vector<FilterChoice::Bound>& bounds, bool point,
                                    bool least) {
    std::optional<std::int64_t> found;
    for (const FilterChoice::Bound& b : bounds) {
        if (b.point == point && (!found || (least ? b.value < *found : b.value > *found))) {
            found = b.value;
        }
    }
    return found;
}

// Whether a --host value that is no address nor prefix is taken for a name: not empty, within
// the length of a name, without blanks, '/' or ':' (a mistyped prefix or IPv6 address), not
// made of digits and dots alone (a mistyped IPv4 address), and a wildcard only as "*." before
// a domain.
bool looksLikeName(std::string_view value) {
    const std::string_view rest = value.substr(0, 2) == "*." ? value.substr(2) : value;
    return !rest.empty() && value.size() <= 1024 &&
           rest.find_first_of(" \t/:*") == std::string_view::npos &&
           rest.find_first_not_of("0123456789.") != std::string_view::npos;
}

}  // namespace

void FilterChoice::add(const std::string& option, const std::string& value) {
    const auto refuse = [&](const char* expected) {
        throw ReportError("--" + option + " takes " + expected + ", not '" + value + "'");
    };
    if (option == "host") {
        const std::optional<IpPrefix> prefix = parseIpPrefix(value);
        if (prefix) {
            hosts.push_back(*prefix);
        } else if (looksLikeName(value)) {
            names.push_back(value);
        } else {
            refuse("an address, a prefix or a name (10.0.0.5, 10.0.0.0/8, 2001:db8::/32, "
                   "www.example.com, *.example.com)");
        }
    } else if (option == "port") {
        const std::optional<int> port = value.size() <= 5 ? digits(value) : std::nullopt;
        if (!port || *port > 65535) {
            refuse("a port from 0 to 65535");
        }
        ports.push_back(static_cast<std::uint16_t>(*port));
    } else if (option == "protocol") {
        if (value.empty() || value.size() > 64) {
            refuse("a protocol's name as the frames tables hold it (TCP, UDP, ICMP, ...)");
        }
        protocols.push_back(value);
    } else if (option == "id") {
        // Version 1 of the Community ID: "1:" and the base64 of a SHA-1 hash.
        constexpr std::string_view base64 =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        if (value.size() != 30 || value.compare(0, 2, "1:") != 0 || value.back() != '=' ||
            value.find_first_not_of(base64, 2) != 29) {
            refuse("a Community ID (1: and 28 characters of base64)");
        }
        ids.push_back(value);
    } else {
        std::optional<Bound> b = bound(value);
        if (!b) {
            refuse("a time of day, HH:MM[:SS[.ffffff]], or a date and time, "
                   "YYYY-MM-DD HH:MM[:SS[.ffffff]]");
        }
        b->words = "--" + option + " " + value;
        (option == "from" ? from : to).push_back(*b);
    }
    words += (words.empty() ? "--" : " --") + option + " " + value;
}

void FilterChoice::check() const {
    for (const bool point : {false, true}) {
        const std::optional<std::int64_t> start = extreme(from, point, true),
                                          end = extreme(to, point, false);
        if (start && end && (point ? *end <= *start : *end == *start)) {
            throw ReportError(point ? "--to is not after --from: the window holds no time"
                                    : "--from and --to are the same time of day: the window "
                                      "holds no time");
        }
    }
}

void FilterChoice::checkProtocolNames(const std::vector<const ProtocolCatalog*>& catalogs) const {
    std::set<std::string> held;
    for (const ProtocolCatalog* catalog : catalogs) {
        // The last name of a full catalog stands for the names past it, and is none of them.
        const std::size_t names = catalog == nullptr ? 0
                                  : catalog->size() < ProtocolCatalog::maxNames
                                      ? catalog->size()
                                      : ProtocolCatalog::maxNames - 1;
        for (std::size_t n = 0; n < names; ++n) {
            held.insert(catalog->name(static_cast<std::uint16_t>(n)));
        }
    }
    for (const std::string& wanted : protocols) {
        if (isTidewracksName(wanted) ||
            std::any_of(held.begin(), held.end(),
                        [&](const std::string& name) { return sameName(name, wanted); })) {
            continue;
        }
        constexpr std::size_t named = 20;
        std::string list;
        std::size_t count = 0;
        for (const std::string& name : held) {
            if (++count <= named) {
                list += (list.empty() ? "" : ", ") + name;
            }
        }
        if (count > named) {
            list += " and " + std::to_string(count - named) + " more";
        }
        throw UsageError("--protocol takes a protocol's name as the frames tables hold it, not '" +
                         wanted + "'; these databases hold " +
                         (held.empty() ? std::string("no frames") : list));
    }
}

bool FilterChoice::hasPoints() const {
    const auto isPoint = [](const Bound& b) { return b.point; };
    return std::any_of(from.begin(), from.end(), isPoint) ||
           std::any_of(to.begin(), to.end(), isPoint);
}

FrameFilter::FrameFilter(const FilterChoice& filter, const TimeAxis& axis, const TimeAxis& zone)
    : choice(filter) {
    for (const auto* bounds : {&choice.from, &choice.to}) {
        for (const FilterChoice::Bound& b : *bounds) {
            if (b.point && !axis.dated) {
                throw UsageError(b.words + ": a date needs databases that all record dates "
                                           "(made with tidewrack -x); give a time of day");
            }
        }
    }
    // A point's local time, less the zone's offset, is UTC; its place on the axis follows.
    const auto place = [&](std::optional<std::int64_t> local) -> std::optional<std::int64_t> {
        if (!local) {
            return std::nullopt;
        }
        return axis.fromUtcMicroseconds(*local - zone.offset * microsecondsPerSecond);
    };
    clockFrom = extreme(choice.from, false, true);
    clockTo = extreme(choice.to, false, false);
    pointFrom = place(extreme(choice.from, true, true));
    pointTo = place(extreme(choice.to, true, false));
    windowed = !choice.from.empty() || !choice.to.empty();
}

bool FrameFilter::protocolPasses(std::uint16_t protocol, const ProtocolCatalog& catalog) {
    if (protocol >= protocolMatch.size()) {
        protocolMatch.resize(protocol + 1u, -1);
    }
    if (protocolMatch[protocol] < 0) {
        const std::string& name = catalog.name(protocol);
        protocolMatch[protocol] =
            std::any_of(choice.protocols.begin(), choice.protocols.end(),
                        [&](const std::string& wanted) { return sameName(name, wanted); });
    }
    return protocolMatch[protocol] == 1;
}

bool FrameFilter::timePasses(std::int64_t time) const {
    if (time == unknownTime) {
        return false;
    }
    const std::int64_t clock = time % microsecondsPerDay;
    const bool after = (!clockFrom && !pointFrom) || (clockFrom && clock >= *clockFrom) ||
                       (pointFrom && time >= *pointFrom);
    const bool before =
        (!clockTo && !pointTo) || (clockTo && clock < *clockTo) || (pointTo && time < *pointTo);
    const bool acrossMidnight =
        clockFrom && clockTo && *clockTo < *clockFrom && !pointFrom && !pointTo;
    return acrossMidnight ? after || before : after && before;
}

void FrameFilter::nameAddresses(const std::set<IpAddress>& addresses) {
    named.insert(addresses.begin(), addresses.end());
}

bool FrameFilter::hostPasses(const FrameRow& row) const {
    return (choice.hosts.empty() && choice.names.empty()) ||
           std::any_of(choice.hosts.begin(), choice.hosts.end(),
                       [&](const IpPrefix& prefix) {
                           return prefix.contains(row.source) || prefix.contains(row.destination);
                       }) ||
           (!named.empty() && (named.count(row.source) != 0 || named.count(row.destination) != 0));
}

bool FrameFilter::passes(const FrameRow& row, const ProtocolCatalog& catalog) {
    // A frame does not know its connection's Community ID.
    return choice.ids.empty() && framePasses(row, catalog);
}

bool FrameFilter::framePasses(const FrameRow& row, const ProtocolCatalog& catalog) {
    if (!hostPasses(row)) {
        return false;
    }
    if (!choice.ports.empty()) {
        const ProtocolKind kind = catalog.kind(row.protocol);
        if ((kind != ProtocolKind::Tcp && kind != ProtocolKind::Udp) ||
            std::none_of(choice.ports.begin(), choice.ports.end(), [&](std::uint16_t port) {
                return port == row.sourcePort || port == row.destinationPort;
            })) {
            return false;
        }
    }
    if (!choice.protocols.empty() && !protocolPasses(row.protocol, catalog)) {
        return false;
    }
    return !windowed || timePasses(row.time);
}

bool FrameFilter::passes(const FrameRow& row, const ProtocolCatalog& catalog, std::int64_t first,
                         std::int64_t last) {
    FrameRow at = row;
    at.time = first;
    if (framePasses(at, catalog)) {
        return true;
    }
    if (!windowed || first == unknownTime) {
        return false;
    }
    // Not at its first frame: in the window from a moment the window opens before its last
    // frame, when the time of day reaches --from or midnight, or when the point --from comes.
    const auto opensWithin = [&](std::int64_t time) {
        at.time = time;
        return time > first && time <= last && framePasses(at, catalog);
    };
    for (const std::optional<std::int64_t> clock : {clockFrom, std::optional<std::int64_t>(0)}) {
        if (clock) {
            std::int64_t time = first - first % microsecondsPerDay + *clock;
            time += time <= first ? microsecondsPerDay : 0;
            if (opensWithin(time)) {
                return true;
            }
        }
    }
    return pointFrom && opensWithin(*pointFrom);
}

bool FrameFilter::secondPasses(std::uint16_t protocol, std::int64_t start,
                               const ProtocolCatalog& catalog) {
    return (choice.protocols.empty() || protocolPasses(protocol, catalog)) &&
           (!windowed || timePasses(start));
}

bool FrameFilter::idPasses(std::string_view id) const {
    return choice.ids.empty() ||
           std::find(choice.ids.begin(), choice.ids.end(), id) != choice.ids.end();
}

bool FrameFilter::connectionsOnly() const {
    return choice.hosts.empty() && choice.names.empty() && choice.ports.empty() && !windowed;
}

}  // namespace tidewrack::report
