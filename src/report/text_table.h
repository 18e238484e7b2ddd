// Aligned text tables for the terminal report, fitted to a width.
//
// Columns are left-aligned text or right-aligned numbers, two blanks apart, each line indented
// by two blanks. A table wider than the width it is given first loses its droppable columns,
// the rightmost first, then has its cuttable text columns shortened, the widest first, but to
// no fewer than minimumCut characters; a shortened cell ends with '~'. Widths count characters
// (UTF-8 code points), not bytes. Cells are kept as terminalText shows them, so that no text a
// cell holds can act on the terminal.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tidewrack::report {

class TextTable {
  public:
    enum class Align { Left, Right };
    struct Column {
        std::string title;
        Align align = Align::Left;
        bool droppable = false;
        bool cuttable = false;
    };
    static constexpr std::size_t minimumCut = 8;

    explicit TextTable(std::vector<Column> columns) : columns(std::move(columns)) {}
    void addRow(std::vector<std::string> cells);

    // The title line and the rows, each ending with a newline; a width of 0 sets no limit.
    std::string render(std::size_t width) const;

  private:
    std::vector<Column> columns;
    std::vector<std::vector<std::string>> rows;
};

// The number of characters of a UTF-8 text.
std::size_t displayWidth(const std::string& text);

}  // namespace tidewrack::report
