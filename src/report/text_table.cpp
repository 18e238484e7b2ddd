// Laying out, fitting and printing a text table.
#include "report/text_table.h"

#include <algorithm>

#include "report/escaped_text.h"

namespace tidewrack::report {

namespace {

constexpr std::size_t indent = 2, gap = 2;

bool continuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

// The first `width` characters of `text`, the last of them replaced by '~' when it is longer.
std::string cut(const std::string& text, std::size_t width) {
    if (displayWidth(text) <= width) {
        return text;
    }
    std::string shown;
    std::size_t characters = 0;
    for (const char c : text) {
        if (!continuationByte(c) && ++characters == width) {
            break;
        }
        shown += c;
    }
    return shown + '~';
}

}  // namespace

std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !continuationByte(c); }));
}

void TextTable::addRow(std::vector<std::string> cells) {
    for (std::string& cell : cells) {
        cell = terminalText(cell);
    }
    rows.push_back(std::move(cells));
}

std::string TextTable::render(std::size_t width) const {
    const std::size_t n = columns.size();
    std::vector<std::size_t> widths(n);
    for (std::size_t i = 0; i < n; ++i) {
        widths[i] = displayWidth(columns[i].title);
        for (const auto& row : rows) {
            widths[i] = std::max(widths[i], displayWidth(row[i]));
        }
    }
    std::vector<bool> shown(n, true);
    const auto total = [&] {
        std::size_t sum = indent, count = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (shown[i]) {
                sum += widths[i];
                ++count;
            }
        }
        return sum + (count > 1 ? (count - 1) * gap : 0);
    };
    for (std::size_t i = n; width != 0 && i-- > 0 && total() > width;) {
        if (columns[i].droppable) {
            shown[i] = false;
        }
    }
    while (width != 0 && total() > width) {
        std::size_t widest = n;
        for (std::size_t i = 0; i < n; ++i) {
            if (shown[i] && columns[i].cuttable && widths[i] > minimumCut &&
                (widest == n || widths[i] > widths[widest])) {
                widest = i;
            }
        }
        if (widest == n) {
            break;  // nothing left to shorten: the lines run over
        }
        widths[widest] -= std::min(widths[widest] - minimumCut, total() - width);
    }

    std::string out;
    const auto line = [&](const std::vector<std::string>& cells) {
        std::string text(indent, ' ');
        for (std::size_t i = 0; i < n; ++i) {
            if (!shown[i]) {
                continue;
            }
            const std::string cell = cut(cells[i], widths[i]);
            const std::string padding(widths[i] - displayWidth(cell), ' ');
            text += columns[i].align == Align::Right ? padding + cell : cell + padding;
            text.append(gap, ' ');
        }
        text.erase(text.find_last_not_of(' ') + 1);
        out += text + '\n';
    };
    std::vector<std::string> titles;
    for (const Column& column : columns) {
        titles.push_back(column.title);
    }
    line(titles);
    for (const auto& row : rows) {
        line(row);
    }
    return out;
}

}  // namespace tidewrack::report
