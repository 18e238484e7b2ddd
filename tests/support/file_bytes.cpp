// File contents and duration-free console text.
#include "file_bytes.h"

#include <fstream>
#include <iterator>
#include <regex>

namespace testkit {

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string normalizeDurations(std::string text) {
    static const std::regex duration("(in|took): [0-9]{2,}:[0-9]{2}:[0-9]{2}");
    return std::regex_replace(text, duration, "$1: hh:mm:ss");
}

}  // namespace testkit
