// Shared inside the support library only.
#ifndef CGICLIB_INTERNAL_H
#define CGICLIB_INTERNAL_H

#include <new>

// The module name every raise of the support library carries.
inline constexpr char kCgiModuleName[] = "cgiclib";
// The message of a storage request that could not be met.
inline constexpr char kCgiMemoryMessage[] = "メモリ確保失敗";

// Raises CGIMemoryException for a failed storage request made on `line`.
[[noreturn]] void RaiseCgiMemoryFailure(int line);

#endif
