// A memory allocator for SQLite in a process of one thread.
//
// Every statement the program sends is parsed and planned anew, and SQLite allocates and frees
// some forty small objects (expression nodes, names, opcodes) for each row. Its own recycling of
// such objects (lookaside memory) is left out of Debian's build, so each goes to the C library's
// malloc, which spends a fifth of a database run on them. These blocks, up to 1 KiB, are kept
// instead on free lists by size (in steps of 16 bytes) and handed out again; larger ones (the
// page cache's) go to malloc and free directly. Nothing is locked: the program is one thread,
// and SQLite is set up for one thread with it. Each list keeps a few dozen blocks at most, so the
// program holds no more memory than with malloc alone.
#pragma once

#include <sqlite3.h>

namespace tidewrack {

// The allocator's methods, for sqlite3_config(SQLITE_CONFIG_MALLOC, ...).
const sqlite3_mem_methods* singleThreadAllocator();

}  // namespace tidewrack
