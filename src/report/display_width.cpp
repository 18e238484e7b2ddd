// Character widths from a table of ranges, and cutting and wrapping by them.
#include "report/display_width.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace tidewrack::report {

namespace {

struct WidthRange {
    char32_t first;
    char32_t last;
    unsigned char width;
};

// The characters that do not take one column, ascending: combining marks and zero-width
// characters take none, East Asian wide and fullwidth forms and emoji take two.
constexpr std::array<WidthRange, 21> widthRanges = {{
    {0x0300, 0x036F, 0},   {0x0483, 0x0489, 0}, {0x0591, 0x05BD, 0}, {0x1100, 0x115F, 2},
    {0x1AB0, 0x1AFF, 0},   {0x1DC0, 0x1DFF, 0}, {0x200B, 0x200F, 0}, {0x20D0, 0x20FF, 0},
    {0x2E80, 0x303E, 2},   {0x3041, 0x33FF, 2}, {0x3400, 0x4DBF, 2}, {0x4E00, 0x9FFF, 2},
    {0xA000, 0xA4CF, 2},   {0xAC00, 0xD7A3, 2}, {0xF900, 0xFAFF, 2}, {0xFE00, 0xFE0F, 0},
    {0xFE20, 0xFE2F, 0},   {0xFE30, 0xFE4F, 2}, {0xFF00, 0xFF60, 2}, {0xFFE0, 0xFFE6, 2},
    {0x1F300, 0x3FFFD, 2},
}};
static_assert(
    [] {
        for (std::size_t i = 0; i < widthRanges.size(); ++i) {
            if (widthRanges[i].first > widthRanges[i].last ||
                (i > 0 && widthRanges[i - 1].last >= widthRanges[i].first)) {
                return false;
            }
        }
        return true;
    }(),
    "the ranges ascend without overlapping");

// The character starting at `text[at]`: its code point, and `at` moved past it.
char32_t decode(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    const int more = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    char32_t point = more == 0 ? lead : lead & (0x3F >> more);
    for (int i = 0; i < more && at < text.size(); ++i) {
        point = point << 6 | (static_cast<unsigned char>(text[at++]) & 0x3F);
    }
    return point;
}

std::size_t characterWidth(char32_t point) {
    for (const WidthRange& range : widthRanges) {
        if (point < range.first) {
            break;
        }
        if (point <= range.last) {
            return range.width;
        }
    }
    return 1;
}

// The characters of `text` with their widths.
struct Character {
    std::string_view bytes;
    std::size_t width;
};
std::vector<Character> characters(std::string_view text) {
    std::vector<Character> all;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = at;
        const char32_t point = decode(text, at);
        all.push_back({text.substr(start, at - start), characterWidth(point)});
    }
    return all;
}

}  // namespace

std::size_t displayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size();) {
        width += characterWidth(decode(text, at));
    }
    return width;
}

std::string fitToWidth(std::string_view text, std::size_t width, bool front) {
    if (displayWidth(text) <= width) {
        return std::string(text);
    }
    if (width == 0) {
        return "";
    }
    std::vector<Character> all = characters(text);
    if (front) {
        std::reverse(all.begin(), all.end());
    }
    std::string kept;
    for (std::size_t i = 0, used = 1; i < all.size() && used + all[i].width <= width; ++i) {
        used += all[i].width;
        kept = front ? std::string(all[i].bytes) + kept : kept + std::string(all[i].bytes);
    }
    return front ? '~' + kept : kept + '~';
}

std::vector<std::string> wrapToWidth(std::string_view text, std::size_t width, std::size_t indent) {
    const std::string margin(indent < width ? indent : 0, ' ');
    std::vector<std::string> lines(1);
    std::size_t used = 0;
    bool empty = true;  // no word on the line yet
    const auto newLine = [&] {
        lines.push_back(margin);
        used = margin.size();
        empty = true;
    };
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find(' ', start);
        end = end == std::string_view::npos ? text.size() : end;
        const std::string_view word = text.substr(start, end - start);
        start = end + 1;
        const std::size_t wordWidth = displayWidth(word);
        if (!empty && used + 1 + wordWidth > width) {
            newLine();
        }
        if (!empty) {
            lines.back() += ' ';
            ++used;
        }
        // A word longer than any line goes on character by character, across lines.
        for (const Character& c : characters(word)) {
            if (used + c.width > width && !empty) {
                newLine();
            }
            lines.back() += c.bytes;
            used += c.width;
            empty = false;
        }
        empty = false;
    }
    return lines;
}

}  // namespace tidewrack::report
