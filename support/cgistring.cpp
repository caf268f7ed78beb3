// CGIString: an owned byte string whose storage is always exactly its length plus the
// terminator. Every change builds the result in new storage of the exact size and only
// then releases the old one, so a failed request leaves the string as it was.
#include "cgiclib.h"
#include "cgiclib_internal.h"

#include <cstdio>
#include <cstring>

namespace {

// "%d" text of a number; the buffer holds the widest signed 32-bit value.
struct NumberText {
    explicit NumberText(int number) { std::snprintf(digits, sizeof digits, "%d", number); }
    char digits[16];
};

// Storage for `length` bytes of text and the terminator, or a raised CGIMemoryException.
#define STRING_STORAGE(length) RequestTextStorage((length), __LINE__)

char* RequestTextStorage(std::size_t length, int line) {
    char* storage = length + 1 != 0 ? static_cast<char*>(AllocateBytes(length + 1)) : nullptr;
    if (storage == nullptr) RaiseCgiMemoryFailure(line);
    return storage;
}

// Adds two lengths; a sum the address space cannot hold counts as unavailable storage.
std::size_t AddLengths(std::size_t a, std::size_t b, int line) {
    if (a > static_cast<std::size_t>(-1) - 1 - b) RaiseCgiMemoryFailure(line);
    return a + b;
}

// New storage holding `first` followed by `second`.
char* Join(const char* first, const char* second, int line) {
    std::size_t firstLength = std::strlen(first);
    std::size_t secondLength = std::strlen(second);
    char* storage = RequestTextStorage(AddLengths(firstLength, secondLength, line), line);
    std::memcpy(storage, first, firstLength);
    std::memcpy(storage + firstLength, second, secondLength + 1);
    return storage;
}

}  // namespace

// Raising CGIMemoryException needs storage for the exception's own strings. When that
// storage is not available either, building a second report would fail the same way
// without end; the nested failure is therefore thrown as std::bad_alloc, which reaches
// the same catch-all handler as the exception it stands for.
void RaiseCgiMemoryFailure(int line) {
    static bool reporting = false;
    if (reporting) throw std::bad_alloc();
    reporting = true;
    try {
        // Built in place as the thrown object (no copy needs storage of its own), with
        // the line of the request that failed.
        throw CGIMemoryException(kCgiMemoryMessage, line, kCgiModuleName, "CGIMemoryException");
    } catch (...) {
        reporting = false;
        throw;
    }
}

CGIString::CGIString() : text(STRING_STORAGE(0)) { text[0] = '\0'; }

CGIString::CGIString(const char* source) : text(nullptr) {
    const char* from = TextOrEmpty(source);
    std::size_t length = std::strlen(from);
    text = STRING_STORAGE(length);
    std::memcpy(text, from, length + 1);
}

CGIString::CGIString(const CGIString& other) : CGIObject(other), text(nullptr) {
    std::size_t length = std::strlen(other.text);
    text = STRING_STORAGE(length);
    std::memcpy(text, other.text, length + 1);
}

CGIString::CGIString(char* storage, AdoptStorage) : text(storage) {}

CGIString::~CGIString() { ReleaseBytes(text); }

const char* CGIString::Install(char* storage) {
    ReleaseBytes(text);
    text = storage;
    return text;
}

const char* CGIString::GetText() const { return text; }

const char* CGIString::Assign(const char* source) {
    const char* from = TextOrEmpty(source);
    std::size_t length = std::strlen(from);
    char* storage = STRING_STORAGE(length);
    std::memcpy(storage, from, length + 1);
    return Install(storage);
}

const char* CGIString::Assign(const CGIString& other) {
    if (&other == this) return text;
    return Assign(other.text);
}

const char* CGIString::Assign(int number) { return Assign(NumberText(number).digits); }

const char* CGIString::Append(const char* tail) {
    // The source may lie inside the held text: it is read before the old storage goes.
    return Install(Join(text, TextOrEmpty(tail), __LINE__));
}

const char* CGIString::Append(const CGIString& other) { return Append(other.text); }

const char* CGIString::Append(int number) { return Append(NumberText(number).digits); }

CGIString CGIString::Concat(const char* tail) const {
    return CGIString(Join(text, TextOrEmpty(tail), __LINE__), AdoptStorage());
}

bool CGIString::Equals(const char* other) const {
    return other != nullptr && std::strcmp(text, other) == 0;
}

int CGIString::Replace(const char* search, const char* replacement) {
    if (search == nullptr || replacement == nullptr) return 0;
    std::size_t searchLength = std::strlen(search);
    if (searchLength == 0) return 0;
    if (std::strcmp(search, replacement) == 0) return 0;

    // Count the occurrences, left to right, never overlapping.
    std::size_t count = 0;
    for (const char* at = std::strstr(text, search); at != nullptr; at = std::strstr(at + searchLength, search)) {
        ++count;
    }
    if (count == 0) return 0;

    std::size_t oldLength = std::strlen(text);
    std::size_t replacementLength = std::strlen(replacement);
    std::size_t newLength;
    if (replacementLength >= searchLength) {
        std::size_t growth = replacementLength - searchLength;
        if (growth != 0 && count > (static_cast<std::size_t>(-1) - 1 - oldLength) / growth) {
            RaiseCgiMemoryFailure(__LINE__);
        }
        newLength = oldLength + growth * count;
    } else {
        newLength = oldLength - (searchLength - replacementLength) * count;
    }
    char* storage = STRING_STORAGE(newLength);

    // Build: the stretch before each occurrence, then the replacement; the replacement
    // is never scanned, so it cannot cause further replacing.
    char* out = storage;
    const char* from = text;
    for (const char* at = std::strstr(from, search); at != nullptr; at = std::strstr(from, search)) {
        std::size_t stretch = static_cast<std::size_t>(at - from);
        std::memcpy(out, from, stretch);
        out += stretch;
        std::memcpy(out, replacement, replacementLength);
        out += replacementLength;
        from = at + searchLength;
    }
    std::memcpy(out, from, std::strlen(from) + 1);
    Install(storage);
    return count > static_cast<std::size_t>(2147483647) ? 2147483647 : static_cast<int>(count);
}

const char* CGIString::EscapeHtml() {
    std::size_t oldLength = 0;
    std::size_t extra = 0;
    for (const char* p = text; *p != '\0'; ++p, ++oldLength) {
        if (*p == '<' || *p == '>') extra += 3;
        else if (*p == '"') extra += 5;
    }
    char* storage = STRING_STORAGE(AddLengths(oldLength, extra, __LINE__));
    char* out = storage;
    for (const char* p = text; *p != '\0'; ++p) {
        const char* entity = nullptr;
        if (*p == '<') entity = "&lt;";
        else if (*p == '>') entity = "&gt;";
        else if (*p == '"') entity = "&quot;";
        if (entity != nullptr) {
            std::size_t entityLength = std::strlen(entity);
            std::memcpy(out, entity, entityLength);
            out += entityLength;
        } else {
            *out++ = *p;
        }
    }
    *out = '\0';
    return Install(storage);
}
