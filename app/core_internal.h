// Shared by the platform-free sources of app/ only.
#ifndef QUILLBOX_CORE_INTERNAL_H
#define QUILLBOX_CORE_INTERNAL_H

#include <cstddef>

// Copies `source` into `buffer` (`size` bytes of room): at most `size` - 1 bytes and
// never the first byte of a double-byte character without its second (also dropped
// when `source` itself ends with such a byte). Always
// terminated when `size` > 0; a null source counts as the empty text.
// Returns the count of bytes copied.
std::size_t CopyTextCut(char* buffer, std::size_t size, const char* source);

// Length of `source` cut as CopyTextCut would cut it for `limit` bytes.
std::size_t CutLength(const char* source, std::size_t limit);

#endif
