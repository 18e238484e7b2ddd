// The text of an output, handed to its destination (a file, standard output) in pieces of
// about 64 KiB as it is made, so that an output of any length takes little memory.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace tidewrack::report {

class TextSink {
  public:
    using Destination = std::function<void(std::string_view)>;
    static constexpr std::size_t piece = 1 << 16;

    explicit TextSink(Destination destination) : destination(std::move(destination)) {}

    TextSink& operator<<(std::string_view text) {
        buffer += text;
        if (buffer.size() >= piece) {
            flush();
        }
        return *this;
    }
    // Hands on what is left.
    void flush() {
        if (!buffer.empty()) {
            destination(buffer);
            buffer.clear();
        }
    }

  private:
    Destination destination;
    std::string buffer;
};

}  // namespace tidewrack::report
