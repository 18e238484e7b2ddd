// Scratch directories made with mkdtemp and removed recursively.
#include "scratch_dir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace testkit {

ScratchDir::ScratchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tidewrack-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp");
    }
    dir = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace testkit
