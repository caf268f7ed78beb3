// Conversion between the system's Shift_JIS texts and the terminal's UTF-8.
#ifndef QUILLBOX_CLI_ENCODING_H
#define QUILLBOX_CLI_ENCODING_H

#include <string>

// Shift_JIS (code page 932) to UTF-8; a byte that is no character becomes U+FFFD.
std::string ShiftJisToUtf8(const std::string& text);

// UTF-8 to Shift_JIS. False (and `out` untouched) when `text` is not UTF-8 or holds a
// character that Shift_JIS lacks.
bool Utf8ToShiftJis(const std::string& text, std::string& out);

#endif
