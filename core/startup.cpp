// Start-up rules of the desktop program: the command-line argument, the temporary
// file's path beside the executable, and the window title.
#include "quillbox.h"

#include <cstdio>
#include <cstring>


void FormatWindowTitle(const char* path, char* buffer, std::size_t size) {
    if (size == 0) return;
    std::snprintf(buffer, size, "%s - %s", TextOrEmpty(path), PRODUCT_NAME);
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
    // Cut to the room without splitting a double-byte character; a first byte right
    // before the end of the argument stays, as a character of its own.
    std::size_t n = ShiftJisCutLength(p, length, size - 1, false);
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
    for (std::size_t i = 0; modulePath[i] != '\0'; i += ShiftJisCharWidth(modulePath + i)) {
        if (modulePath[i] == '\\' ) folderLength = i + 1;
    }
    std::size_t nameLength = std::strlen(TEMP_FILE_NAME);
    if (folderLength + nameLength > size - 1) return false;
    std::memcpy(buffer, modulePath, folderLength);
    std::memcpy(buffer + folderLength, TEMP_FILE_NAME, nameLength + 1);
    return true;
}
