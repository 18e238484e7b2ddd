// A preloaded library (LD_PRELOAD) that audits a process's per-packet work: it counts every heap
// allocation by who asked for it, and the calls of the local-time conversion, of text
// comparison and of stdio flushing made by the program's own code.
//
// An allocation is charged to SQLite or libpcap when the nearest caller on the stack that lies
// in one of them, the program or a library of interest is SQLite or libpcap; to the program
// ("own") when that caller is the program's own code (also through libstdc++ or libc, as for
// operator new or a time-zone load), unless that code is the allocator the program gives SQLite
// (the caller's caller is SQLite), which allocates for SQLite; anything else (the C runtime and
// loader before main) is "other". Comparing the counts of a short and a long run gives the
// allocations per packet of each party; the program's own must not grow with the packet count.
//
// The report is written at exit to the file named by COUNT_ALLOCATIONS_REPORT (or standard
// error) as "name count" lines.
#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
void* __libc_memalign(std::size_t, std::size_t);
}

namespace {

enum Party { Own, Sqlite, Pcap, Other, PartyCount };
constexpr const char* partyNames[] = {"own", "sqlite", "pcap", "other"};

struct Range {
    std::uintptr_t low = 0, high = 0;
    bool holds(const void* p) const {
        const auto a = reinterpret_cast<std::uintptr_t>(p);
        return a >= low && a < high;
    }
};

Range ranges[3];  // indexed by Own, Sqlite, Pcap
unsigned long allocations[PartyCount];
unsigned long localtimeCalls, ownComparisons, ownFlushes;
bool ready = false;
thread_local bool inside __attribute__((tls_model("initial-exec"))) = false;

int recordRange(dl_phdr_info* info, std::size_t, void*) {
    const char* name = info->dlpi_name;
    int party = -1;
    if (name == nullptr || name[0] == '\0') {
        party = ranges[Own].high == 0 ? Own : -1;  // the first nameless object is the program
    } else if (std::strstr(name, "libsqlite3") != nullptr) {
        party = Sqlite;
    } else if (std::strstr(name, "libpcap") != nullptr) {
        party = Pcap;
    }
    if (party < 0) {
        return 0;
    }
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X) != 0) {
            ranges[party].low = info->dlpi_addr + segment.p_vaddr;
            ranges[party].high = ranges[party].low + segment.p_memsz;
        }
    }
    return 0;
}

int partyOf(const void* address) {
    for (int p = Own; p <= Pcap; ++p) {
        if (ranges[p].holds(address)) {
            return p;
        }
    }
    return -1;
}

void count(const void* caller) {
    if (!ready || inside) {
        return;
    }
    int party = partyOf(caller);
    if (party == Own) {
        // The program's allocator for SQLite, called by SQLite: SQLite's allocation.
        inside = true;
        void* frames[4];
        const int depth = backtrace(frames, 4);
        for (int i = 2; i < depth; ++i) {
            if (partyOf(frames[i]) == Sqlite) {
                party = Sqlite;
            }
        }
        inside = false;
    } else if (party < 0) {
        // Called from another library: walk up to the first caller of interest.
        inside = true;
        void* frames[48];
        const int depth = backtrace(frames, 48);
        for (int i = 1; i < depth && party < 0; ++i) {
            party = partyOf(frames[i]);
        }
        inside = false;
    }
    __atomic_add_fetch(&allocations[party < 0 ? Other : party], 1, __ATOMIC_RELAXED);
}

bool fromProgram(const void* caller) {
    return ready && ranges[Own].holds(caller);
}

template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using Localtime = std::tm* (*)(const std::time_t*, std::tm*);
using Compare = int (*)(const void*, const void*, std::size_t);
using CompareText = int (*)(const char*, const char*);
using CompareTextN = int (*)(const char*, const char*, std::size_t);
using Flush = int (*)(FILE*);
Localtime realLocaltime;
Compare realMemcmp;
CompareText realStrcmp;
CompareTextN realStrncmp;
Flush realFflush;

__attribute__((constructor)) void start() {
    inside = true;
    dl_iterate_phdr(recordRange, nullptr);
    void* warmUp[2];
    backtrace(warmUp, 2);  // loads the unwinder now, not inside the first count
    realLocaltime = next<Localtime>("localtime_r");
    realMemcmp = next<Compare>("memcmp");
    realStrcmp = next<CompareText>("strcmp");
    realStrncmp = next<CompareTextN>("strncmp");
    realFflush = next<Flush>("fflush");
    inside = false;
    ready = true;
}

__attribute__((destructor)) void report() {
    ready = false;
    char text[512];
    int n = 0;
    for (int p = 0; p < PartyCount; ++p) {
        n += std::snprintf(text + n, sizeof text - n, "allocations_%s %lu\n", partyNames[p],
                           allocations[p]);
    }
    std::snprintf(text + n, sizeof text - n,
                  "localtime_calls %lu\nown_text_comparisons %lu\nown_flushes %lu\n",
                  localtimeCalls, ownComparisons, ownFlushes);
    const char* path = std::getenv("COUNT_ALLOCATIONS_REPORT");
    const int fd = path != nullptr ? open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644) : 2;
    if (fd >= 0 && write(fd, text, std::strlen(text)) < 0) {
        return;
    }
    if (fd > 2) {
        close(fd);
    }
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) noexcept {
    count(__builtin_return_address(0));
    return __libc_malloc(size);
}

void* calloc(std::size_t n, std::size_t size) noexcept {
    count(__builtin_return_address(0));
    return __libc_calloc(n, size);
}

void* realloc(void* p, std::size_t size) noexcept {
    count(__builtin_return_address(0));
    return __libc_realloc(p, size);
}

void free(void* p) noexcept {
    __libc_free(p);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
    count(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    count(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    count(__builtin_return_address(0));
    *out = __libc_memalign(alignment, size);
    return *out != nullptr ? 0 : 12;  // ENOMEM
}

std::tm* localtime_r(const std::time_t* t, std::tm* result) noexcept {
    __atomic_add_fetch(&localtimeCalls, 1, __ATOMIC_RELAXED);
    if (realLocaltime == nullptr) {
        realLocaltime = next<Localtime>("localtime_r");
    }
    return realLocaltime(t, result);
}

int memcmp(const void* a, const void* b, std::size_t n) noexcept {
    if (fromProgram(__builtin_return_address(0))) {
        ++ownComparisons;
    }
    if (realMemcmp == nullptr) {  // before start(): a plain loop
        const auto* x = static_cast<const unsigned char*>(a);
        const auto* y = static_cast<const unsigned char*>(b);
        for (std::size_t i = 0; i < n; ++i) {
            if (x[i] != y[i]) {
                return x[i] - y[i];
            }
        }
        return 0;
    }
    return realMemcmp(a, b, n);
}

int strcmp(const char* a, const char* b) noexcept {
    if (fromProgram(__builtin_return_address(0))) {
        ++ownComparisons;
    }
    if (realStrcmp == nullptr) {
        while (*a != '\0' && *a == *b) {
            ++a, ++b;
        }
        return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
    }
    return realStrcmp(a, b);
}

int strncmp(const char* a, const char* b, std::size_t n) noexcept {
    if (fromProgram(__builtin_return_address(0))) {
        ++ownComparisons;
    }
    if (realStrncmp == nullptr) {
        for (; n > 0; --n, ++a, ++b) {
            if (*a != *b || *a == '\0') {
                return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
            }
        }
        return 0;
    }
    return realStrncmp(a, b, n);
}

int fflush(FILE* stream) {
    if (fromProgram(__builtin_return_address(0))) {
        ++ownFlushes;
    }
    if (realFflush == nullptr) {
        realFflush = next<Flush>("fflush");
    }
    return realFflush(stream);
}
}
