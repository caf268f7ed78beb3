// quillbox-cli layout: the item table for a terminal (UTF-8), then the record-length
// line.
#include <cstring>
#include <memory>
#include <string>

#include "cli_common.h"
#include "commands.h"
#include "quillbox.h"

namespace {

struct LayoutOptions {
    CopybookArgument copybook;
    bool expand = false;
};

// A line of the system's text (Shift_JIS) for the terminal. Control bytes of item
// texts never reach it: they are shown as "?".
std::string TerminalLine(const std::string& line) { return TerminalSafe(SystemToUtf8(line)) + "\n"; }

// The rows are formatted twice, once for the column widths and once to be printed, so
// that no table of every row's cells is held: memory does not grow with the rows.
void PrintLayout(const CopyItem* head, bool expand, unsigned long recordLength) {
    // Shift_JIS bytes are display columns: a double-byte character takes two of each.
    std::size_t widths[ITEM_COLUMN_COUNT];
    for (int column = 0; column < ITEM_COLUMN_COUNT; ++column) widths[column] = std::strlen(ITEM_COLUMNS[column].title);
    auto forEachRow = [&](auto visit) {
        ItemRowCells cells;
        int row = 0;
        for (const CopyItem* item = FirstShownItem(head, expand); item != nullptr; item = NextShownItem(item, expand)) {
            FormatItemRow(item, ++row, cells);
            visit(cells);
        }
    };
    forEachRow([&](const ItemRowCells& cells) {
        for (int column = 0; column < ITEM_COLUMN_COUNT; ++column) {
            std::size_t n = std::strlen(cells[column]);
            if (n > widths[column]) widths[column] = n;
        }
    });
    std::string out;  // written in blocks
    auto printRow = [&](auto cellOf) {
        std::string line;
        for (int column = 0; column < ITEM_COLUMN_COUNT; ++column) {
            const char* cell = cellOf(column);
            std::size_t room = widths[column] - std::strlen(cell);
            std::size_t before = 0;
            if (ITEM_COLUMNS[column].alignment == COLUMN_RIGHT) before = room;
            if (ITEM_COLUMNS[column].alignment == COLUMN_CENTER) before = room / 2;
            if (column > 0) line += "  ";
            line.append(before, ' ');
            line += cell;
            line.append(room - before, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += TerminalLine(line);
        if (out.size() >= 65536) {
            WriteOut(out);
            out.clear();
        }
    };
    printRow([](int column) { return ITEM_COLUMNS[column].title; });
    forEachRow([&](const ItemRowCells& cells) { printRow([&](int column) { return cells[column]; }); });
    char status[256];
    FormatRecordLengthLine(recordLength, status, sizeof status);
    out += TerminalLine(status);
    WriteOut(out);
}

}  // namespace

void AddLayoutCommand(CLI::App& program) {
    auto options = std::make_shared<LayoutOptions>();
    CLI::App* command = AddRowsCommand(
        program, "layout", "the item table for a terminal (UTF-8), then the record-length line", options);
    command->footer("Control characters of item texts are shown as \"?\".");
    OnLoadedCopybook(command, options, [](const auto& options, LoadedCopybook& copybook) {
        PrintLayout(copybook.Head(), options->expand, copybook.RecordLength());
    });
}
