// Which file a path leads to, or an open stream writes to, told by the file system (device and
// inode numbers) rather than by how the path is spelled: a hard link, a symbolic link, a bind
// mount of the directory or /dev/stdout all lead to the file they name. The dump and the
// database are checked with these before either is opened, so that neither is written over the
// other, over the trace being read, or into the console output.
#pragma once

#include <cstdio>

namespace tidewrack {

// True when `path` leads to the file that `file` has open; with `dataOnly`, only when that is a
// regular file or a pipe, so that a device such as /dev/null may serve both.
bool isOpenAt(std::FILE* file, const char* path, bool dataOnly = false);

// True when the two paths lead to one file that is not a device, whether it exists yet or not.
bool sameFile(const char* one, const char* other);

// True when `path` leads to the journal, WAL or shared-memory file that SQLite keeps beside the
// database at `database`.
bool isDatabaseCompanion(const char* path, const char* database);

}  // namespace tidewrack
