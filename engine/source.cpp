// Loading and filtering of the copybook source, joining, and the scanning primitives.
//
// The copybook is read byte by byte; every byte the scanner reacts to (blank, tab, line
// feed, ".", ";", "*", ">", "/") lies below 0x40 and so is never the second byte of a
// Shift_JIS double-byte character.
//
// Line ends, for both analyses: LF, CR LF (also with more CRs before the LF, as a CR LF
// file converted once more in text mode has them) and a CR alone (old Macintosh files)
// each end one line; a UTF-8 byte order mark at the start is no text.
#include <climits>
#include <cstring>

#include "engine_internal.h"

namespace {

// Whether the first "." of the line from its seventh byte on ends a file description
// entry: there is one, and it does not stand inside a "*>" comment.
bool HasPeriodOutsideComment(const char* line, std::size_t length) {
    std::size_t period = length;
    std::size_t comment = length;
    for (std::size_t i = 6; i < length; ++i) {
        if (line[i] == '.' && period == length) period = i;
        if (line[i] == '*' && i + 1 < length && line[i + 1] == '>' && comment == length) comment = i;
        if (period != length) break;
    }
    return period != length && !(comment != length && period > comment);
}

// The file description filter. Returns whether the line is program text to keep;
// `inFileDescription` is the switch that carries over from line to line.
bool KeepLine(const char* line, std::size_t length, bool& inFileDescription) {
    if (inFileDescription) {
        inFileDescription = !HasPeriodOutsideComment(line, length);
        return false;
    }
    if (length < 8) return false;
    if (line[6] == '*' || line[6] == '/') return false;
    if (FoldByte(line[7]) == 'f' && length > 8 && FoldByte(line[8]) == 'd') {
        inFileDescription = !HasPeriodOutsideComment(line, length);
        return false;
    }
    return true;
}

}  // namespace

int ReadSourceChar(std::FILE* file, int& pending) {
    if (pending > 0) {
        --pending;
        return '\n';
    }
    int c = std::getc(file);
    if (c != '\r') return c;
    int run = 1;
    while ((c = std::getc(file)) == '\r') ++run;
    if (c == '\n') return '\n';
    if (c != EOF) std::ungetc(c, file);
    pending = run - 1;
    return '\n';
}

void NormalizeSourceText(std::string& text) {
    if (text.compare(0, 3, kByteOrderMark) == 0) text.erase(0, 3);
    std::size_t at = text.find('\r');
    if (at == std::string::npos) return;
    const std::size_t size = text.size();
    std::size_t out = at;
    for (std::size_t i = at; i < size;) {
        if (text[i] != '\r') {
            text[out++] = text[i++];
            continue;
        }
        std::size_t run = i;
        while (run < size && text[run] == '\r') ++run;
        if (run < size && text[run] == '\n') {
            text[out++] = '\n';
            i = run + 1;
        } else {
            for (; i < run; ++i) text[out++] = '\n';
        }
    }
    text.resize(out);
}

void LoadCopybookText(const char* fileName, std::FILE*& sourceFile, char*& sourceText,
                      std::vector<SourceLineStart>* lineStarts) {
    if (sourceFile != nullptr) {
        std::fclose(sourceFile);
        sourceFile = nullptr;
    }
    if (sourceText != nullptr) {
        ReleaseBytes(sourceText);
        sourceText = nullptr;
    }
    if (lineStarts != nullptr) lineStarts->clear();
    sourceFile = OpenTextFile(fileName, "r");
    if (sourceFile == nullptr) RAISE(CFileException, "ファイルのオープンに失敗！！");
    if (std::fseek(sourceFile, 0, SEEK_END) != 0) RAISE(CFileException, "ファイルシーク失敗！！");
    long size = std::ftell(sourceFile);
    // The same 2 GB limit on every platform, also where a long has 64 bits.
    if (size < 0 || size >= static_cast<long>(INT_MAX))
        RAISE(CFileException, "ファイルサイズ取得失敗！！(MAX:2GB)");
    std::rewind(sourceFile);
    // A UTF-8 byte order mark is no part of the text: left in, it would shift the first
    // line's columns by three bytes.
    char mark[3];
    if (std::fread(mark, 1, sizeof mark, sourceFile) != sizeof mark || std::memcmp(mark, kByteOrderMark, sizeof mark) != 0)
        std::rewind(sourceFile);
    char* text = static_cast<char*>(AllocateEngineBytes(static_cast<std::size_t>(size) + 1, "メモリ確保失敗"));
    text[0] = '\0';
    sourceText = text;

    // Each physical line is read whole, however long, straight into the buffer behind
    // the text kept so far; a kept line is then moved down over its sequence area. The
    // line-end rule only ever drops bytes or turns a CR into a LF, so the file's size
    // bounds everything read; a file that grew since its size was taken is read up to
    // that size.
    const std::size_t capacity = static_cast<std::size_t>(size);
    std::size_t kept = 0;
    bool inFileDescription = false;
    bool atEnd = false;
    int pending = 0;
    int lineNo = 0;
    while (!atEnd) {
        std::size_t length = 0;
        ++lineNo;
        for (;;) {
            if (kept + length >= capacity) {
                atEnd = true;
                break;
            }
            int c = ReadSourceChar(sourceFile, pending);
            if (c == EOF) {
                atEnd = true;
                break;
            }
            text[kept + length++] = static_cast<char>(c);
            if (c == '\n') break;
        }
        if (length == 0) break;
        // A NUL byte would end the text early and lose every later line: between words
        // (and after a level number) it is a blank, inside a word it stays a control
        // character, which no name may hold (a word read as two would make two items of one).
        char* line = text + kept;
        auto wordByte = [](char b) { return b != '\0' && b != ' ' && b != '\t' && b != '\n' && b != '\r' && b != '.'; };
        for (std::size_t i = 0; i < length;) {
            if (line[i] != '\0') {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < length && line[end] == '\0') ++end;
            bool inWord = i > 0 && end < length && wordByte(line[i - 1]) && wordByte(line[end]);
            // After a level number (digits alone) it separates the number from the name.
            bool digits = true;
            for (std::size_t k = i; inWord && k > 0 && wordByte(line[k - 1]); --k) {
                digits = digits && line[k - 1] >= '0' && line[k - 1] <= '9';
            }
            inWord = inWord && !digits;
            std::memset(line + i, inWord ? '\x01' : ' ', end - i);
            i = end;
        }
        if (KeepLine(text + kept, length, inFileDescription)) {
            if (lineStarts != nullptr) lineStarts->push_back(SourceLineStart{kept, lineNo});
            std::memmove(text + kept, text + kept + 6, length - 6);
            kept += length - 6;
        }
    }
    text[kept] = '\0';
    std::fclose(sourceFile);
    sourceFile = nullptr;
}

void CopyAnalyzer::LoadSource() { LoadCopybookText(fileName, sourceFile, sourceText, nullptr); }

void CopyAnalyzer::JoinEntries() {
    if (sourceText == nullptr) return;
    char* p = sourceText;
    while (*p != '\0') {
        bool inComment = false;
        bool decimalPointSeen = false;
        while (*p != '\0' && (*p != '.' || inComment)) {
            if (p[0] == '*' && p[1] == '>') {
                p[0] = ' ';
                p[1] = ' ';
                p += 2;
                inComment = true;
                if (*p == '\0') break;
            }
            if (*p == '\n') {
                *p = ' ';
                inComment = false;
            }
            if (inComment) *p = ' ';
            ++p;
            if (*p == '.' && !decimalPointSeen) {
                char after = p[1];
                if (!IsBlank(after) && after != '\n' && after != '.' && after != '\0') {
                    if (inComment)
                        *p = ' ';
                    else
                        decimalPointSeen = true;
                    ++p;
                }
            }
        }
        if (*p == '.') *p = ';';
        // The rest of the line is the entry's trailer, left as it is.
        while (*p != '\0' && *p != '\n') ++p;
        if (*p == '\n') ++p;
    }
}

char* CopyAnalyzer::SkipBlanks(char* position) {
    while (IsBlank(*position)) ++position;
    return position;
}

char* CopyAnalyzer::SkipWord(char* position) {
    while (!IsWordDelimiter(*position)) ++position;
    return position;
}

char* CopyAnalyzer::CutWord(char* position, char* buffer, int capacity) {
    if (capacity < 1) RAISE(CException, "文字列切り出し用領域サイズエラー");
    int copied = 0;
    while (copied < capacity && !IsWordDelimiter(*position)) buffer[copied++] = *position++;
    if (copied < capacity) buffer[copied] = '\0';
    buffer[capacity - 1] = '\0';
    return position;
}

char* CopyAnalyzer::NextLine(char* position) {
    while (*position != '\0' && *position != '\n') ++position;
    if (*position == '\n') ++position;
    return position;
}
