// The byte and text rules of the whole system, each written once: ASCII case folding,
// the byte classes the scanners test, the Shift_JIS double-byte rules, and the copy
// rules of bounded texts. Everything counts bytes; texts are Shift_JIS.
//
// Folding and classes come from two 256-entry tables indexed by the byte value, built
// at compile time, so that every test is one table load.
#ifndef CGICLIB_TEXTRULES_H
#define CGICLIB_TEXTRULES_H

#include <cstddef>

// Byte classes. A byte may be in several.
constexpr unsigned char BYTE_BLANK = 0x01;        // space, tab: what SkipBlanks passes over
constexpr unsigned char BYTE_WORD_END = 0x02;     // space, tab, line feed, ";", NUL: the end of a word
constexpr unsigned char BYTE_ENTRY_END = 0x04;    // line feed, ";", NUL: the end of an entry's text
constexpr unsigned char BYTE_DIGIT = 0x08;        // "0" to "9"
constexpr unsigned char BYTE_SJIS_LEAD = 0x10;    // 0x81-0x9F, 0xE0-0xFC: first byte of a double-byte character
constexpr unsigned char BYTE_COBOL_SPACE = 0x20;  // space, tab, carriage return, form feed: COBOL source separators

struct ByteTables {
    unsigned char fold[256];     // "A" to "Z" give "a" to "z"; every other byte gives itself
    unsigned char classes[256];  // the BYTE_ bits of each byte
};

constexpr ByteTables MakeByteTables() {
    ByteTables t{};
    for (int c = 0; c < 256; ++c) {
        t.fold[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        unsigned char bits = 0;
        if (c == ' ' || c == '\t') bits |= BYTE_BLANK;
        if (c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '\0') bits |= BYTE_WORD_END;
        if (c == '\n' || c == ';' || c == '\0') bits |= BYTE_ENTRY_END;
        if (c >= '0' && c <= '9') bits |= BYTE_DIGIT;
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) bits |= BYTE_SJIS_LEAD;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f') bits |= BYTE_COBOL_SPACE;
        t.classes[c] = bits;
    }
    return t;
}

// The one folding table and the one class table.
inline constexpr ByteTables BYTE_TABLES = MakeByteTables();

// ASCII case folding: "A" to "Z" become "a" to "z", every other byte (the second byte of
// a double-byte character included) stays as it is.
constexpr char FoldByte(char c) { return static_cast<char>(BYTE_TABLES.fold[static_cast<unsigned char>(c)]); }

constexpr bool HasByteClass(char c, unsigned char classBits) {
    return (BYTE_TABLES.classes[static_cast<unsigned char>(c)] & classBits) != 0;
}
constexpr bool IsBlank(char c) { return HasByteClass(c, BYTE_BLANK); }
constexpr bool IsWordDelimiter(char c) { return HasByteClass(c, BYTE_WORD_END); }
constexpr bool IsEntryEnd(char c) { return HasByteClass(c, BYTE_ENTRY_END); }
constexpr bool IsDecimalDigit(char c) { return HasByteClass(c, BYTE_DIGIT); }
// The separator spaces of COBOL source text (a COBOL-rules tokenizer's blank).
constexpr bool IsCobolSpace(char c) { return HasByteClass(c, BYTE_COBOL_SPACE); }

// True when `c` is the first byte of a Shift_JIS double-byte character. No byte below
// 0x40 (blank, tab, line feed, ".", ";", "*", ">", "/", quote, digits) can be a second
// byte, so scanning for those bytes one at a time never stops inside a character.
constexpr bool IsShiftJisLeadByte(unsigned char c) { return (BYTE_TABLES.classes[c] & BYTE_SJIS_LEAD) != 0; }
constexpr bool IsShiftJisLeadByte(char c) { return IsShiftJisLeadByte(static_cast<unsigned char>(c)); }

// Width in bytes of the character at `p` of a terminated text: 2 for a first byte with
// a byte after it, 1 otherwise (a first byte at the very end counts as a character of
// its own).
inline std::size_t ShiftJisCharWidth(const char* p) { return (IsShiftJisLeadByte(p[0]) && p[1] != '\0') ? 2 : 1; }

// Why the data name `name` (Shift_JIS, `length` bytes) is no name, or null when it is
// one as far as these rules go: a control character (NUL included), "/" or "\\" outside
// a double-byte character, or "..". COBOL allows none of them, and a name becomes a file
// name, a column and an SQL name downstream.
const char* DataNameFault(const char* name, std::size_t length);

// The double-byte-safe cut: the byte count of the longest start of `text` (its first
// `length` bytes) that has at most `limit` bytes and ends at a character boundary.
// A first byte in the last place of the text has no second byte: with
// `dropLoneLeadByte` it is dropped (the text was itself cut elsewhere), otherwise it is
// kept as a character of its own.
std::size_t ShiftJisCutLength(const char* text, std::size_t length, std::size_t limit, bool dropLoneLeadByte);

// The cut of a terminated text (null counts as empty), a lone first byte at its end
// dropped: what a cell, a title or a name keeps of a longer text.
std::size_t CutLength(const char* text, std::size_t limit);

// Copies `source` into `buffer` (`size` bytes of room) cut as CutLength cuts it for
// `size` - 1 bytes; always terminated when `size` > 0; null counts as empty. Returns
// the count of bytes copied.
std::size_t CopyTextCut(char* buffer, std::size_t size, const char* source);

// The text that stands for a null text argument: the empty text.
constexpr const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Copy-in of a bounded text field: copies at most `capacity` - 1 bytes of `text` (null
// counts as empty) into `target` and terminates it, without regard to characters.
// True when the whole text fitted.
bool CopyTextIn(char* target, std::size_t capacity, const char* text);

// Copy-out of a held text (the Get.../Copy... operations taking a buffer and its size):
// with a null buffer, returns the text's length + 1 (the room it needs); with `size` < 1,
// returns `size` and writes nothing; otherwise copies at most `size` - 1 bytes, always
// terminates, and returns the count of bytes copied.
int CopyTextOut(const char* text, char* buffer, int size);

#endif
