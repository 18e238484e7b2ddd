// Files compared by identity. A file that exists is known by its device and inode. One that does
// not exist yet is known by the entry that creating it would make: its directory's device and
// inode, and its name, once symbolic links in the last component are followed (as opening it
// would follow them), so that two names of one directory lead to one entry.
#include "files/file_identity.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace tidewrack {

namespace {

struct Entry {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
    bool known = false;
};

Entry entryOf(const char* path) {
    std::error_code error;
    std::filesystem::path p = path;
    for (int links = 0; links < 40 && std::filesystem::is_symlink(p, error); ++links) {
        const std::filesystem::path target = std::filesystem::read_symlink(p, error);
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    struct stat directory {};
    const std::filesystem::path parent = p.parent_path().empty() ? "." : p.parent_path();
    if (stat(parent.c_str(), &directory) != 0) {
        return {};
    }
    return {directory.st_dev, directory.st_ino, p.filename().string(), true};
}

bool isDevice(const struct stat& file) {
    return S_ISCHR(file.st_mode) || S_ISBLK(file.st_mode);
}

}  // namespace

bool isOpenAt(std::FILE* file, const char* path, bool dataOnly) {
    struct stat opened {
    }, named{};
    return file != nullptr && fstat(fileno(file), &opened) == 0 && stat(path, &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino &&
           (!dataOnly || S_ISREG(opened.st_mode) || S_ISFIFO(opened.st_mode));
}

bool sameFile(const char* one, const char* other) {
    struct stat a {
    }, b{};
    const bool oneThere = stat(one, &a) == 0, otherThere = stat(other, &b) == 0;
    if (oneThere || otherThere) {
        return oneThere && otherThere && a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
               !isDevice(a);
    }
    const Entry x = entryOf(one), y = entryOf(other);
    return x.known && y.known && x.device == y.device && x.inode == y.inode && x.name == y.name;
}

bool isDatabaseCompanion(const char* path, const char* database) {
    const Entry file = entryOf(path), db = entryOf(database);
    if (!file.known || !db.known || file.device != db.device || file.inode != db.inode) {
        return false;
    }
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        if (file.name == db.name + suffix) {
            return true;
        }
    }
    return false;
}

}  // namespace tidewrack
