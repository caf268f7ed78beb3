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
void PrintLine(const std::string& line) { WriteOut(TerminalSafe(SystemToUtf8(line)) + "\n"); }

void PrintLayout(const ItemRowTable& table, unsigned long recordLength) {
    // Shift_JIS bytes are display columns: a double-byte character takes two of each.
    std::size_t widths[ITEM_COLUMN_COUNT];
    for (int column = 0; column < ITEM_COLUMN_COUNT; ++column) {
        widths[column] = std::strlen(ITEM_COLUMNS[column].title);
        for (int row = 0; row < table.RowCount(); ++row) {
            std::size_t n = std::strlen(table.Cell(row, column));
            if (n > widths[column]) widths[column] = n;
        }
    }
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
        PrintLine(line);
    };
    printRow([](int column) { return ITEM_COLUMNS[column].title; });
    for (int row = 0; row < table.RowCount(); ++row) {
        printRow([&](int column) { return table.Cell(row, column); });
    }
    char status[256];
    FormatRecordLengthLine(recordLength, status, sizeof status);
    PrintLine(status);
}

}  // namespace

void AddLayoutCommand(CLI::App& program) {
    auto options = std::make_shared<LayoutOptions>();
    CLI::App* command = AddRowsCommand(
        program, "layout", "the item table for a terminal (UTF-8), then the record-length line", options);
    command->footer("Control characters of item texts are shown as \"?\".");
    OnLoadedCopybook(command, options, [](const auto& options, LoadedCopybook& copybook) {
        PrintLayout(ItemRowTable(copybook.Head(), options->expand), copybook.RecordLength());
    });
}
