// Finding the corpus of real captures.
#include "corpus.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace testkit {

std::string corpusDir() {
    const char* given = std::getenv("TIDEWRACK_CORPUS_DIR");
    const std::string dir = given != nullptr && *given != '\0' ? given : TIDEWRACK_CORPUS_DIR;
    return fs::is_directory(dir) ? dir : "";
}

std::string corpusFile(const std::string& name) {
    const std::string dir = corpusDir();
    return !dir.empty() && fs::exists(dir + "/" + name) ? dir + "/" + name : "";
}

std::vector<std::string> corpusFiles() {
    std::vector<std::string> files;
    if (const std::string dir = corpusDir(); !dir.empty()) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            const auto ext = entry.path().extension();
            if (ext == ".pcap" || ext == ".pcapng") {
                files.push_back(entry.path().string());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace testkit
