// The clipboard text of "copy all rows", made from the cell texts the table shows, and
// the pasted copybook text written to the temporary file.
#include "quillbox.h"

#include <cstring>


const char* const CLIPBOARD_TITLES[CLIPBOARD_COLUMN_COUNT] = {
    "No", "レベル", "項目名", "宣言", "桁数", "小数部桁数", "バイト",
    "属性", "再定義(REDEFINES)", "配列数", "要素番号", "次元数", "相対位置", "備考",
};

namespace {

// Appends to a caller's buffer as far as it has room and counts the full length, so
// that one pass measures the text and the next one fills a block of that size.
struct TextSink {
    char* buffer;
    std::size_t size;
    std::size_t length;
    void Add(const char* text, std::size_t count) {
        if (buffer != nullptr && length < size) {
            std::size_t room = size - 1 - length;
            std::size_t n = count < room ? count : room;
            std::memcpy(buffer + length, text, n);
        }
        length += count;
    }
    void Add(const char* text) { Add(text, std::strlen(text)); }
    void Finish() {
        if (buffer == nullptr || size == 0) return;
        buffer[length < size ? length : size - 1] = '\0';
    }
};

}  // namespace

std::size_t BuildClipboardText(const ItemTableCells& table, bool withTitle, char* buffer, std::size_t size) {
    TextSink sink{buffer, size, 0};
    if (withTitle) {
        for (int i = 0; i < CLIPBOARD_COLUMN_COUNT; ++i) {
            if (i > 0) sink.Add("\t", 1);
            sink.Add(CLIPBOARD_TITLES[i]);
        }
        sink.Add("\r\n", 2);
    }
    const int rows = table.RowCount();
    for (int row = 0; row < rows; ++row) {
        for (int column = 1; column < ITEM_COLUMN_COUNT; ++column) {
            if (column > 1) sink.Add("\t", 1);
            char cell[ITEM_CELL_SIZE];
            cell[0] = '\0';
            table.GetCellText(row, column, cell, ITEM_CELL_SIZE);
            cell[ITEM_CELL_SIZE - 1] = '\0';
            sink.Add(cell, CutLength(cell, ITEM_CELL_SIZE - 1));
        }
        sink.Add("\r\n", 2);
    }
    sink.Finish();
    return sink.length;
}

std::string BuildClipboardText(const ItemTableCells& table, bool withTitle) {
    std::size_t length = BuildClipboardText(table, withTitle, nullptr, 0);
    std::string text(length + 1, '\0');
    BuildClipboardText(table, withTitle, &text[0], text.size());
    text.resize(length);
    return text;
}

bool WritePastedSource(const char* path, const char* text) {
    std::FILE* file = OpenTextFile(path, "w");
    if (file == nullptr) return false;
    bool ok = true;
    // Carriage returns are dropped; each line feed becomes CR LF on disk, so the file
    // has uniform line ends and a lone carriage return disappears.
    const char* p = text != nullptr ? text : "";
    while (*p != '\0') {
        std::size_t stretch = std::strcspn(p, "\r");
        if (stretch > 0 && WriteText(file, p, stretch) != stretch) ok = false;
        p += stretch;
        if (*p == '\r') ++p;
    }
    if (std::fclose(file) != 0) ok = false;
    return ok;
}
