// Writing the page beside the old one and renaming it into place, or straight to a device.
#include "report/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "report/report_error.h"

namespace tidewrack::report {

namespace {

namespace fs = std::filesystem;

constexpr int maxLinks = 40;  // as many links as the kernel follows in one path

// The file that `path` names once its symbolic links are followed; it need not exist.
fs::path followLinks(fs::path path) {
    std::error_code error;
    for (int hops = 0; hops < maxLinks && fs::is_symlink(fs::symlink_status(path, error)); ++hops) {
        const fs::path link = fs::read_symlink(path, error);
        if (error) {
            break;
        }
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    return path;
}

}  // namespace

OutputFile::OutputFile(std::string outputPath) : path(std::move(outputPath)) {
    struct stat old {};
    const bool exists = stat(path.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        fail(errno);
    }
    if (exists && !S_ISREG(old.st_mode)) {
        fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);  // a directory fails here
        if (fd < 0) {
            fail(errno);
        }
        return;
    }
    const fs::path file = followLinks(path);
    target = file.string();
    const fs::path directory = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::string name = (directory / ".").string();  // a hidden name, made unique by mkostemp
    name.append(file.filename().string()).append(".XXXXXX");
    std::vector<char> unique(name.begin(), name.end());
    unique.push_back('\0');
    fd = mkostemp(unique.data(), O_CLOEXEC);
    if (fd < 0) {
        fail(errno);
    }
    temporary = unique.data();
    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 0777;
        if (fchown(fd, old.st_uid, old.st_gid) != 0 &&
            fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // Neither is allowed: the page is the writer's own, as a new file would be.
        }
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(fd, mode) != 0) {
        fail(errno);
    }
}

OutputFile::~OutputFile() {
    if (fd >= 0) {
        ::close(fd);
    }
    if (!temporary.empty()) {
        unlink(temporary.c_str());
    }
}

void OutputFile::fail(int error) const {
    throw ReportError(path + ": cannot write: " + std::strerror(error));
}

void OutputFile::write(std::string_view content) {
    while (!content.empty()) {
        const ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0 && errno != EINTR) {
            fail(errno);
        }
        content.remove_prefix(written < 0 ? 0 : static_cast<std::size_t>(written));
    }
}

void OutputFile::close() {
    // On disk before it takes the old page's place, so that a crash leaves one or the other.
    if (!temporary.empty() && fsync(fd) != 0) {
        fail(errno);
    }
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) {
        fail(errno);
    }
}

void OutputFile::commit() {
    if (temporary.empty()) {
        return;
    }
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        fail(errno);
    }
    temporary.clear();
}

}  // namespace tidewrack::report
