// CException, CFileException, CMemoryException: the exceptions of the analysis engine
// and the desktop program. Each owns its location trail; every other text it refers to
// is a constant the raiser passed.
#include "cgiclib.h"

#include <cstdio>
#include <cstring>

namespace {

// Length of one trail entry "<file> : <line>\n", terminator not counted.
std::size_t EntryLength(int line, const char* fileName) {
    int length = std::snprintf(nullptr, 0, "%s : %d\n", fileName, line);
    return length < 0 ? 0 : static_cast<std::size_t>(length);
}

}  // namespace

CException::CException(const char* message, int line, const char* sourceFileName)
    : line(line), sourceFileName(sourceFileName), exceptionName("CException"), location(nullptr) {
    // A null message reads as the empty text, so that a careless raiser cannot crash
    // the handler that reads the exception.
    CopyTextIn(messageText, sizeof messageText, message);
    // The first entry: the separator, at most 11 characters of the number, the line
    // feed and the terminator fit in 16 bytes beside the file name.
    const char* name = TextOrEmpty(sourceFileName);
    std::size_t size = std::strlen(name) + 16;
    location = static_cast<char*>(AllocateBytes(size));
    if (location != nullptr) std::snprintf(location, size, "%s : %d\n", name, line);
}

CException::CException(const CException& other)
    : line(other.line),
      sourceFileName(other.sourceFileName),
      exceptionName(other.exceptionName),
      location(nullptr) {
    std::memcpy(messageText, other.messageText, sizeof messageText);
    if (other.location != nullptr) {
        std::size_t length = std::strlen(other.location);
        location = static_cast<char*>(AllocateBytes(length + 1));
        if (location != nullptr) std::memcpy(location, other.location, length + 1);
    }
}

CException::~CException() { ReleaseBytes(location); }

bool CException::AddLocation(int line, const char* fileName) {
    const char* name = TextOrEmpty(fileName);
    std::size_t oldLength = location != nullptr ? std::strlen(location) : 0;
    std::size_t entryLength = EntryLength(line, name);
    char* grown = static_cast<char*>(AllocateBytes(oldLength + entryLength + 1));
    if (grown == nullptr) return false;
    if (oldLength > 0) std::memcpy(grown, location, oldLength);
    std::snprintf(grown + oldLength, entryLength + 1, "%s : %d\n", name, line);
    ReleaseBytes(location);
    location = grown;
    return true;
}

bool CException::SetMessageText(const char* text) {
    return CopyTextIn(messageText, sizeof messageText, text);
}

bool CException::AppendMessageText(const char* text) {
    std::size_t current = std::strlen(messageText);
    return CopyTextIn(messageText + current, sizeof messageText - current, text);
}

int CException::CopyMessageText(char* buffer, int size) { return CopyTextOut(messageText, buffer, size); }

const char* CException::GetMessageText() { return messageText; }

int CException::CopyLocation(char* buffer, int size) {
    if (location == nullptr) {
        if (buffer != nullptr && size >= 1) buffer[0] = '\0';
        return 0;
    }
    return CopyTextOut(location, buffer, size);
}

const char* CException::GetLocation() { return location != nullptr ? location : ""; }

int CException::CopySourceFileName(char* buffer, int size) {
    return CopyTextOut(TextOrEmpty(sourceFileName), buffer, size);
}

const char* CException::GetSourceFileName() { return sourceFileName; }

int CException::GetLine() { return line; }

int CException::CopyExceptionName(char* buffer, int size) {
    return CopyTextOut(TextOrEmpty(exceptionName), buffer, size);
}

const char* CException::GetExceptionName() { return exceptionName; }

CFileException::CFileException(const char* message, int line, const char* sourceFileName)
    : CException(message, line, sourceFileName) {
    exceptionName = "CFileException";
}

CFileException::CFileException(const CFileException& other) : CException(other) {}

CFileException::~CFileException() {}

CMemoryException::CMemoryException(const char* message, int line, const char* sourceFileName)
    : CException(message, line, sourceFileName) {
    exceptionName = "CMemoryException";
}

CMemoryException::CMemoryException(const CMemoryException& other) : CException(other) {}

CMemoryException::~CMemoryException() {}
