// Free lists of small blocks by size class, each block behind a header that records its size.
#include "db/sqlite_allocator.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace tidewrack {

namespace {

constexpr std::size_t step = 16;           // size classes, and the alignment of a block
constexpr std::size_t largestKept = 1024;  // larger blocks are not kept
constexpr std::size_t classes = largestKept / step;
static_assert(largestKept % step == 0);

// Before each block: its usable size. Sixteen bytes keep the block aligned as malloc's are.
struct alignas(step) Header {
    std::size_t size;
};
static_assert(sizeof(Header) == step);

struct FreeBlock {
    FreeBlock* next;
};

// Blocks kept at most in each class: enough for the busiest statement, so that a row's blocks
// come from the lists, and few enough that what a list keeps after the peak of one phase (the
// schema's 143 tables, the flow tables) cannot raise the memory the program holds.
constexpr int keptPerClass = 32;

FreeBlock* freeLists[classes + 1] = {};  // by size / step; entry 0 is never used
int keptCount[classes + 1] = {};

// The usable size a request gets: a whole number of steps.
std::size_t roundUp(std::size_t n) {
    return n == 0 ? step : (n + step - 1) / step * step;
}

Header* headerOf(void* block) {
    return static_cast<Header*>(block) - 1;
}

void* allocate(int requested) {
    if (requested <= 0) {
        return nullptr;
    }
    const std::size_t size = roundUp(static_cast<std::size_t>(requested));
    if (size <= largestKept) {
        if (FreeBlock* kept = freeLists[size / step]; kept != nullptr) {
            freeLists[size / step] = kept->next;
            --keptCount[size / step];
            return kept;
        }
    }
    auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (header == nullptr) {
        return nullptr;
    }
    header->size = size;
    return header + 1;
}

void release(void* block) {
    if (block == nullptr) {
        return;
    }
    Header* header = headerOf(block);
    if (header->size <= largestKept && keptCount[header->size / step] < keptPerClass) {
        ++keptCount[header->size / step];
        auto* kept = static_cast<FreeBlock*>(block);
        kept->next = freeLists[header->size / step];
        freeLists[header->size / step] = kept;
        return;
    }
    std::free(header);
}

int usableSize(void* block) {
    return block == nullptr ? 0 : static_cast<int>(headerOf(block)->size);
}

void* resize(void* block, int requested) {
    if (block == nullptr) {
        return allocate(requested);
    }
    if (requested <= 0) {
        release(block);
        return nullptr;
    }
    const std::size_t size = headerOf(block)->size;
    if (static_cast<std::size_t>(requested) <= size &&
        (size <= largestKept || roundUp(static_cast<std::size_t>(requested)) == size)) {
        return block;  // still fits its block
    }
    void* moved = allocate(requested);
    if (moved != nullptr) {
        std::memcpy(moved, block,
                    size < static_cast<std::size_t>(requested)
                        ? size
                        : static_cast<std::size_t>(requested));
        release(block);
    }
    return moved;
}

int roundedSize(int requested) {
    return static_cast<int>(roundUp(requested > 0 ? static_cast<std::size_t>(requested) : 0));
}

int initialise(void*) {
    return SQLITE_OK;
}

void shutDown(void*) {}

constexpr sqlite3_mem_methods methods = {allocate,    release,    resize,   usableSize,
                                         roundedSize, initialise, shutDown, nullptr};

}  // namespace

const sqlite3_mem_methods* singleThreadAllocator() {
    return &methods;
}

}  // namespace tidewrack
