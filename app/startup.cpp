// Start-up rules of the desktop program: the command-line argument, the temporary
// file's path beside the executable, and the window title.
#include "quillbox.h"

#include <cstdio>
#include <cstring>

#include "core_internal.h"

void FormatWindowTitle(const char* path, char* buffer, std::size_t size) {
    if (size == 0) return;
    std::snprintf(buffer, size, "%s - %s", path != nullptr ? path : "", PRODUCT_NAME);
}

void TakeCommandLineArgument(const char* commandLine, char* buffer, std::size_t size) {
    if (size == 0) return;
    buffer[0] = '\0';
    if (commandLine == nullptr) return;
    const char* p = commandLine;
    bool quoted = false;
    if (*p == '"') {
        quoted = true;
        ++p;
    }
    // End of the argument. Neither a blank nor a double quote can be the second byte of
    // a double-byte character, so a plain byte scan finds the right end.
    const char* end = p;
    while (*end != '\0' && *end != '"' && (quoted || (*end != ' ' && *end != '\t'))) ++end;
    std::size_t length = static_cast<std::size_t>(end - p);
    // Cut to the room without splitting a double-byte character.
    std::size_t n = 0;
    while (n < length) {
        std::size_t width = (IsShiftJisLeadByte(static_cast<unsigned char>(p[n])) && n + 1 < length) ? 2 : 1;
        if (n + width > size - 1) break;
        n += width;
    }
    std::memcpy(buffer, p, n);
    buffer[n] = '\0';
}

bool BuildTempFilePath(const char* modulePath, char* buffer, std::size_t size) {
    if (size == 0) return false;
    buffer[0] = '\0';
    if (modulePath == nullptr) modulePath = "";
    // The folder ends after the last backslash that stands at a character boundary: the
    // second byte of a double-byte character may be 0x5C and is stepped over.
    std::size_t folderLength = 0;
    for (std::size_t i = 0; modulePath[i] != '\0';) {
        unsigned char c = static_cast<unsigned char>(modulePath[i]);
        if (IsShiftJisLeadByte(c) && modulePath[i + 1] != '\0') {
            i += 2;
            continue;
        }
        if (c == '\\') folderLength = i + 1;
        ++i;
    }
    std::size_t nameLength = std::strlen(TEMP_FILE_NAME);
    if (folderLength + nameLength > size - 1) return false;
    std::memcpy(buffer, modulePath, folderLength);
    std::memcpy(buffer + folderLength, TEMP_FILE_NAME, nameLength + 1);
    return true;
}
