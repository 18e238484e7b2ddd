// Keeping the names learnt for addresses, choosing the one each shows, and matching patterns.
#include "report/address_names.h"

#include <algorithm>
#include <string>
#include <tuple>

#include "report/tally_store.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

namespace {

std::string addressKey(const IpAddress& address) {
    unsigned char bytes[16];
    const std::size_t size = address.bytes(bytes);
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

// Whether `name` (lower case) matches `pattern` (lower case): the name itself, or with
// "*.domain" the domain or a name under it.
bool matches(std::string_view name, std::string_view pattern) {
    if (pattern.size() > 2 && pattern.substr(0, 2) == "*.") {
        const std::string_view domain = pattern.substr(2);
        return name == domain ||
               (name.size() > domain.size() && name.substr(name.size() - domain.size()) == domain &&
                name[name.size() - domain.size() - 1] == '.');
    }
    return name == pattern;
}

}  // namespace

std::string lowerName(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return lower;
}

AddressNames::Address& AddressNames::at(const IpAddress& address) {
    Address& entry = learntFor[addressKey(address)];
    entry.address = address;
    return entry;
}

void AddressNames::learnt(const IpAddress& address, std::string_view name,
                          std::string_view source) {
    const std::string lower = lowerName(name);
    at(address).last = {lower, std::string(source)};
    addressesOf[lower].insert(address);
}

void AddressNames::connection(const IpAddress& server, std::string_view name,
                              std::string_view source, std::int64_t first, std::int64_t bytes) {
    const std::string lower = lowerName(name);
    std::vector<Carried>& carried = at(server).carried;
    const auto same = std::find_if(carried.begin(), carried.end(), [&](const Carried& c) {
        return c.name == lower && c.source == source;
    });
    if (same == carried.end()) {
        carried.push_back({lower, std::string(source), 1});
    } else {
        ++same->connections;
    }
    addressesOf[lower].insert(server);
    Server& s = servers[lower];
    ++s.sources[std::string(source)];
    ++s.connections;
    s.bytes += std::max<std::int64_t>(bytes, 0);
    if (first != unknownTime && (!s.firstKnown || first < s.first)) {
        s.first = first;
        s.firstKnown = true;
    }
    s.addresses.insert(server);
}

void AddressNames::settle() {
    shown.clear();
    for (const auto& [key, entry] : learntFor) {
        const Carried* most = nullptr;
        for (const Carried& c : entry.carried) {
            if (most == nullptr || c.connections > most->connections ||
                (c.connections == most->connections &&
                 std::tie(c.name, c.source) < std::tie(most->name, most->source))) {
                most = &c;
            }
        }
        if (most != nullptr) {
            shown[key] = {most->name, most->source};
        } else if (!entry.last.name.empty()) {
            shown[key] = entry.last;
        }
    }
}

const LearntName* AddressNames::find(std::string_view bytes) const {
    const auto found = shown.find(std::string(bytes));
    return found == shown.end() ? nullptr : &found->second;
}

bool AddressNames::addMatching(std::string_view pattern, std::set<IpAddress>& out) const {
    const std::string lower = lowerName(pattern);
    bool any = false;
    for (const auto& [name, addresses] : addressesOf) {
        if (matches(name, lower)) {
            out.insert(addresses.begin(), addresses.end());
            any = true;
        }
    }
    return any;
}

void AddressNames::writeServerNames(TallyStore& store, const char* table,
                                    const TimeAxis& axis) const {
    store.run((std::string("CREATE TABLE IF NOT EXISTS ") + table +
               " (name TEXT PRIMARY KEY, name_source TEXT, connections INTEGER, bytes INTEGER, "
               "first INTEGER, addresses TEXT) WITHOUT ROWID")
                  .c_str());
    store.run("BEGIN");
    Statement insert =
        store.prepare(std::string("INSERT INTO ") + table + " VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    for (const auto& [name, server] : servers) {
        // The source most of its connections carried, the first in byte order of a tie.
        std::string source;
        std::uint64_t most = 0;
        for (const auto& [from, count] : server.sources) {
            if (count > most) {
                source = from;
                most = count;
            }
        }
        std::string addresses;
        for (const IpAddress& address : server.addresses) {
            if (!addresses.empty()) {
                addresses += ',';
            }
            addresses += ipAddressText(addressKey(address));
        }
        insert.bindText(1, name)
            .bindText(2, source)
            .bind(3, static_cast<std::int64_t>(server.connections))
            .bind(4, server.bytes)
            .bindText(6, addresses);
        if (server.firstKnown && axis.dated) {
            insert.bind(5, axis.fromUtcMicroseconds(server.first));
        } else {
            insert.bindNull(5);
        }
        insert.run();
    }
    store.run("COMMIT");
}

}  // namespace tidewrack::report
