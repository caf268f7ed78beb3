// quillbox-cli: the layout of a copybook for a terminal (layout, json) and the exact
// bytes of the desktop program's clipboard copy (tsv), HTML report (html) and CREATE
// TABLE file (ddl).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "encoding.h"
#include "quillbox.h"

namespace {

const char* const USAGE =
    "usage:\n"
    "  quillbox-cli layout [--expand] COPYBOOK\n"
    "      the item table for a terminal (UTF-8), then the record-length line\n"
    "  quillbox-cli tsv [--expand] [--no-title] COPYBOOK\n"
    "      the clipboard text of \"copy all rows\" (Shift_JIS, CR LF) to standard output\n"
    "  quillbox-cli html [--expand] COPYBOOK OUT\n"
    "      the HTML report (Shift_JIS, CR LF); its file line shows COPYBOOK as given\n"
    "  quillbox-cli ddl --table NAME [--serial-no] [--quote-names] COPYBOOK OUT\n"
    "      the CREATE TABLE file (Shift_JIS, CR LF)\n"
    "  quillbox-cli json [--expand] COPYBOOK\n"
    "      every shown item with every field, as JSON (UTF-8)\n"
    "  quillbox-cli --help\n"
    "\n"
    "  --expand       show every array element (array expansion on)\n"
    "  --no-title     leave out the title row\n"
    "  --table NAME   the table name (at most 1023 bytes in Shift_JIS)\n"
    "  --serial-no    number array columns by the item's running number\n"
    "  --quote-names  enclose the table and column names in double quotes\n"
    "\n"
    "exit status: 0 done; 1 the analysis or a file failed; 2 bad usage\n";

struct Options {
    std::string command;
    bool expand = false;
    bool noTitle = false;
    bool serialNo = false;
    bool quoteNames = false;
    bool haveTable = false;
    std::string table;
    std::vector<std::string> files;
};

struct UsageError {
    std::string message;
};

// A text of the system (Shift_JIS) written to a terminal stream as UTF-8.
void PrintSystemText(std::FILE* stream, const std::string& text) {
    std::string utf8 = ShiftJisToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

// Command-line arguments arrive in the ANSI code page on Windows, in UTF-8 elsewhere.
std::string ArgumentToUtf8(const std::string& argument) {
#ifdef _WIN32
    return ShiftJisToUtf8(argument);
#else
    return argument;
#endif
}

std::string ArgumentToShiftJis(const std::string& argument) {
#ifdef _WIN32
    return argument;
#else
    std::string converted;
    return Utf8ToShiftJis(argument, converted) ? converted : argument;
#endif
}

Options ParseArguments(int argc, char** argv) {
    Options options;
    if (argc < 2) throw UsageError{"no command given"};
    options.command = argv[1];
    const std::string& c = options.command;
    if (c != "layout" && c != "tsv" && c != "html" && c != "ddl" && c != "json") {
        throw UsageError{"unknown command: " + c};
    }
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            options.files.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--expand" && c != "ddl") {
            options.expand = true;
        } else if (a == "--no-title" && c == "tsv") {
            options.noTitle = true;
        } else if (a == "--serial-no" && c == "ddl") {
            options.serialNo = true;
        } else if (a == "--quote-names" && c == "ddl") {
            options.quoteNames = true;
        } else if ((a == "--table" || a.compare(0, 8, "--table=") == 0) && c == "ddl") {
            if (a == "--table") {
                if (i + 1 >= argc) throw UsageError{"--table needs a name"};
                options.table = argv[++i];
            } else {
                options.table = a.substr(8);
            }
            options.haveTable = true;
        } else {
            throw UsageError{"unknown option for " + c + ": " + a};
        }
    }
    const std::size_t wanted = (c == "html" || c == "ddl") ? 2 : 1;
    if (options.files.size() != wanted) {
        throw UsageError{c + " takes " + (wanted == 2 ? "COPYBOOK and OUT" : "one COPYBOOK")};
    }
    if (c == "ddl" && (!options.haveTable || options.table.empty())) {
        throw UsageError{"ddl needs --table NAME"};
    }
    return options;
}

// ---- layout ------------------------------------------------------------------------

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
    auto printLine = [&](auto cellOf) {
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
        PrintSystemText(stdout, line + "\n");
    };
    printLine([](int column) { return ITEM_COLUMNS[column].title; });
    for (int row = 0; row < table.RowCount(); ++row) {
        printLine([&](int column) { return table.Cell(row, column); });
    }
    char status[256];
    FormatRecordLengthLine(recordLength, status, sizeof status);
    PrintSystemText(stdout, std::string(status) + "\n");
}

// ---- json --------------------------------------------------------------------------

std::string JsonText(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char ch : utf8) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", ch);
            out += escape;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + "\"";
}

std::string JsonField(const char (&field)[64]) {
    char bounded[64];
    std::memcpy(bounded, field, sizeof bounded - 1);
    bounded[sizeof bounded - 1] = '\0';
    return JsonText(ShiftJisToUtf8(bounded));
}

const char* CategoryName(unsigned flags) {
    const char* name = nullptr;
    if (flags & ITEM_NUMERIC) name = "numeric";
    if (flags & ITEM_ALPHANUMERIC) name = "alphanumeric";
    if (flags & ITEM_NATIONAL) name = "national";
    if (flags & ITEM_BOOLEAN) name = "boolean";
    if (flags & ITEM_GROUP) name = "group";
    return name;
}

void PrintJson(const CopyItem* head, unsigned long recordLength, const std::string& fileName, bool expand) {
    std::string out = "{\n";
    out += "  \"file\": " + JsonText(fileName) + ",\n";
    out += "  \"recordLength\": " + std::to_string(recordLength) + ",\n";
    out += std::string("  \"arrayExpansion\": ") + (expand ? "true" : "false") + ",\n";
    out += "  \"items\": [";
    int row = 0;
    for (const CopyItem* item = FirstShownItem(head, expand); item != nullptr; item = NextShownItem(item, expand)) {
        const unsigned f = item->flags;
        out += row == 0 ? "\n" : ",\n";
        out += "    {\"row\": " + std::to_string(++row);
        out += ", \"serialNo\": " + std::to_string(item->serialNo);
        out += ", \"level\": " + std::to_string(item->level);
        out += ", \"name\": " + JsonField(item->name);
        out += ", \"picture\": " + JsonField(item->picture);
        const char* category = CategoryName(f);
        out += std::string(", \"category\": ") + (category ? JsonText(category) : "null");
        out += ", \"usage\": [";
        const struct { unsigned bit; const char* name; } usages[] = {
            {USAGE_BINARY, "binary"}, {USAGE_COMP5, "comp-5"}, {USAGE_PACKED, "packed-decimal"},
            {USAGE_BIT, "bit"},       {USAGE_FLOAT, "comp-1"}, {USAGE_DOUBLE, "comp-2"},
        };
        bool first = true;
        for (const auto& u : usages) {
            if (!(f & u.bit)) continue;
            out += std::string(first ? "" : ", ") + JsonText(u.name);
            first = false;
        }
        out += "]";
        out += std::string(", \"signed\": ") + ((f & ITEM_SIGNED) ? "true" : "false");
        out += std::string(", \"array\": ") + ((f & ITEM_ARRAY) ? "true" : "false");
        out += ", \"digits\": " + std::to_string(item->digits);
        out += ", \"scale\": " + std::to_string(item->scale);
        out += ", \"byteLength\": " + std::to_string(item->byteLength);
        out += ", \"position\": " + std::to_string(item->position);
        out += ", \"elementNo\": " + std::to_string(item->elementNo);
        out += ", \"dimension\": " + std::to_string(item->dimension);
        out += ", \"occursCount\": " + std::to_string(item->occursCount);
        if (item->redefines != nullptr) {
            out += ", \"redefines\": {\"serialNo\": " + std::to_string(item->redefines->serialNo) +
                   ", \"name\": " + JsonField(item->redefines->name) + "}";
        } else {
            out += ", \"redefines\": null";
        }
        out += ", \"remark\": " + JsonField(item->remark);
        out += ", \"flags\": " + std::to_string(f) + "}";
    }
    out += row == 0 ? "]\n}\n" : "\n  ]\n}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// ---- running -----------------------------------------------------------------------

int Fail(const std::string& systemMessage) {
    PrintSystemText(stderr, systemMessage + "\n");
    return 1;
}

int Run(const Options& options) {
    const std::string& copybook = options.files[0];
    CopyAnalyzer analyzer("");
    analyzer.SetFileName(copybook.c_str());
    CopyItem* head = analyzer.Analyze();
    const unsigned long recordLength = analyzer.GetRecordLength();
    const std::string& c = options.command;
    if (c == "layout") {
        PrintLayout(ItemRowTable(head, options.expand), recordLength);
    } else if (c == "tsv") {
        std::string text = BuildClipboardText(ItemRowTable(head, options.expand), !options.noTitle);
        std::fwrite(text.data(), 1, text.size(), stdout);
    } else if (c == "json") {
        PrintJson(head, recordLength, ArgumentToUtf8(copybook), options.expand);
    } else {
        const char* out = options.files[1].c_str();
        ExportResult result;
        if (c == "html") {
            std::string shown = ArgumentToShiftJis(copybook);
            result = WriteHtmlReport(out, head, recordLength, shown.c_str(), options.expand);
        } else {
            std::string table = ArgumentToShiftJis(options.table);
            // The desktop program takes at most 1023 bytes, never half a character.
            std::size_t n = 0;
            while (n < table.size()) {
                std::size_t width = IsShiftJisLeadByte(static_cast<unsigned char>(table[n])) ? 2 : 1;
                if (n + width > TABLE_NAME_CAPACITY - 1 || n + width > table.size()) break;
                n += width;
            }
            table.resize(n);
            result = WriteCreateTable(out, head, table.c_str(), options.serialNo, options.quoteNames);
        }
        if (result == EXPORT_OPEN_FAILED) return Fail("ファイルのオープンに失敗");
        if (result == EXPORT_WRITE_FAILED) return Fail("ファイルの書き込みに失敗");
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("quillbox-cli: writing to standard output failed\n", stderr);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The outputs are exact bytes: no line-end conversion by the C runtime.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--") == 0) break;
    }
    Options options;
    try {
        options = ParseArguments(argc, argv);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "quillbox-cli: %s\n%s", error.message.c_str(), USAGE);
        return 2;
    }
    try {
        return Run(options);
    } catch (CException& error) {
        return Fail(error.GetMessageText());
    } catch (CGIException& error) {
        return Fail(error.GetMessageText());
    } catch (const char* text) {
        return Fail(text);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillbox-cli: %s\n", error.what());
        return 1;
    }
}
