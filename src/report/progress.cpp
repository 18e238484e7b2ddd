// The progress line.
#include "report/progress.h"

#include <cstdio>

#include "report/escaped_text.h"

namespace tidewrack::report {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto quiet = std::chrono::seconds(1);
constexpr auto pause = std::chrono::milliseconds(100);
constexpr std::size_t shownCharacters = 78;  // within a usual terminal's width

// The first `characters` characters of the UTF-8 `text`.
std::string firstCharacters(std::string text, std::size_t characters) {
    std::size_t end = 0;
    for (std::size_t n = 0; end < text.size() && n < characters; ++n) {
        do {
            ++end;
        } while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u);
    }
    text.resize(end);
    return text;
}

}  // namespace

Progress::Progress(bool isEnabled) : enabled(isEnabled), start(Clock::now()) {}

Progress::~Progress() {
    finish();
}

void Progress::database(std::size_t number, std::size_t count, const std::string& path,
                        std::int64_t frames) {
    current = "reading " + std::to_string(number) + "/" + std::to_string(count) + " " + path;
    expected = frames;
    show(current);
}

void Progress::frames(std::uint64_t done) {
    if (expected > 0) {
        show(current + ": " + std::to_string(done * 100 / static_cast<std::uint64_t>(expected)) +
             " %");
    }
}

void Progress::section(const std::string& name) {
    show(name + "...");
}

void Progress::show(const std::string& line) {
    if (!enabled) {
        return;
    }
    const auto now = Clock::now();
    if (now - start < quiet || (shown && now - lastShown < pause)) {
        return;
    }
    lastShown = now;
    shown = true;
    // Back to the start of the line, the text (a path, perhaps, holding anything) made safe and
    // cut to a usual terminal's width, the rest of the line wiped.
    std::fprintf(stderr, "\r%s\033[K",
                 firstCharacters(terminalText(line), shownCharacters).c_str());
    std::fflush(stderr);
}

void Progress::finish() {
    if (shown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown = false;
    }
}

}  // namespace tidewrack::report
