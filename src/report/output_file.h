// The page written so that a run that fails leaves the path as it was.
//
// A regular file, or a path that names nothing yet, is written as a new file created
// exclusively beside it, in the same directory, and renamed over it only once the file is
// whole and on disk: until then the old page stays, and a failure removes the new file and
// nothing else. The new page takes the old one's permissions (and its owner and group where
// the system allows), or those of any new file (0666 less the umask). A symbolic link is
// followed, so that the page it names is replaced, not the link. A device or a FIFO is written
// directly, as other tools do, and never removed or replaced.
#pragma once

#include <string>
#include <string_view>

namespace tidewrack::report {

class OutputFile {
  public:
    // Opens `path` for writing: a new file beside a regular one, or the device or FIFO itself
    // (which may wait for a reader). A failure is a ReportError naming the path.
    explicit OutputFile(std::string path);
    // Removes the new file, unless it was put in place.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Writes the next piece of the file.
    void write(std::string_view content);
    // Puts the file on disk (a new file) and closes it.
    void close();
    // Puts the new file in place of the old page; nothing to do for a device or FIFO.
    void commit();

  private:
    [[noreturn]] void fail(int error) const;

    std::string path;       // as given, for the messages
    std::string target;     // the file to replace, links followed; empty when writing directly
    std::string temporary;  // the new file beside it, until it is put in place
    int fd = -1;
};

}  // namespace tidewrack::report
