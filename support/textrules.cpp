// The text rules of textrules.h that are not written inline there.
#include "textrules.h"

#include <cstring>

std::size_t ShiftJisCutLength(const char* text, std::size_t length, std::size_t limit, bool dropLoneLeadByte) {
    std::size_t n = 0;
    while (n < length) {
        std::size_t width = 1;
        if (IsShiftJisLeadByte(text[n])) {
            if (n + 1 < length) {
                width = 2;
            } else if (dropLoneLeadByte) {
                break;
            }
        }
        if (n + width > limit) break;
        n += width;
    }
    return n;
}

std::size_t CutLength(const char* text, std::size_t limit) {
    if (text == nullptr) return 0;
    // Only the bytes the cut can reach are measured, and the one after them, which
    // tells whether a first byte at the limit has its second byte.
    std::size_t length = 0;
    while (length <= limit && text[length] != '\0') ++length;
    return ShiftJisCutLength(text, length, limit, true);
}

std::size_t CopyTextCut(char* buffer, std::size_t size, const char* source) {
    if (size == 0) return 0;
    std::size_t n = CutLength(source, size - 1);
    if (n > 0) std::memcpy(buffer, source, n);
    buffer[n] = '\0';
    return n;
}

bool CopyTextIn(char* target, std::size_t capacity, const char* text) {
    text = TextOrEmpty(text);
    if (capacity == 0) return text[0] == '\0';
    std::size_t length = 0;
    while (length < capacity - 1 && text[length] != '\0') ++length;
    std::memcpy(target, text, length);
    target[length] = '\0';
    return text[length] == '\0';
}

int CopyTextOut(const char* text, char* buffer, int size) {
    std::size_t length = std::strlen(text);
    if (buffer == nullptr) return static_cast<int>(length + 1);
    if (size < 1) return size;
    std::size_t room = static_cast<std::size_t>(size) - 1;
    std::size_t taken = length < room ? length : room;
    std::memcpy(buffer, text, taken);
    buffer[taken] = '\0';
    return static_cast<int>(taken);
}

const char* DataNameFault(const char* name, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (IsShiftJisLeadByte(c) && i + 1 < length) {
            ++i;   // the second byte of a double-byte character may be 0x5C
            continue;
        }
        if (c == 0) return "名前に NUL 文字（0x00）があります。";
        if (c < 0x20 || c == 0x7F) return "名前に制御文字があります。";
        if (c == '/' || c == '\\') return "名前に \"/\" や \"\\\" は使えません。";
        if (c == '.' && i + 1 < length && name[i + 1] == '.') return "名前に \"..\" は使えません。";
    }
    return nullptr;
}
