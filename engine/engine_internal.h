// Shared by the engine's sources only.
#ifndef COBCPY_ENGINE_INTERNAL_H
#define COBCPY_ENGINE_INTERNAL_H

#include <cstdint>

#include "cobcpy.h"
#include "keywords.h"

// The engine's module name, carried by every exception it raises.
#define COBCPY_MODULE "cobcpy"

// The Shift_JIS full-width space, the default filler of national items.
inline constexpr char kFullWidthSpace[2] = {'\x81', '\x40'};

// The REDEFINES lookup of the parser (redefines_index.cpp): the nearest earlier item
// whose name equals `target` under CompareNoCase, found through an index that the
// lookups keep in step with the list; null when there is none. The index belongs to
// the analysis object (created on first use) until ReleaseRedefinesIndex.
CopyItem* FindRedefinesTarget(CopyAnalyzer& analyzer, CopyItem* item, const char* target);
void ReleaseRedefinesIndex(RedefinesIndex*& index);

// The storage rule's parts that only the analyses use (storage.cpp).
// The byte length ComputeByteLengths gives an item of the copybook dialect: binary,
// packed, COMP-5, national, bit, COMP-1 and COMP-2 in this order (a COMP-1 or COMP-2
// item becomes numeric); raises "数値型が64ビットを超えるかもしれません。" for a binary
// item of more than 18 digits.
std::int64_t DialectByteLength(CopyItem* item);
// LinkGroups: the usages a subordinate takes from `giver` (binary, packed, COMP-5 and
// bit; nothing is removed).
void InheritDialectUsage(CopyItem* item, const CopyItem* giver);
// The COBOL rules: every usage flag of the group whose usage an item without a USAGE
// clause of its own takes.
void InheritCobolUsage(CopyItem* item, const CopyItem* group);

// Raises ExceptionClass with `message` from the current line of the engine.
#define RAISE(ExceptionClass, message) CGI_RAISE_FROM(ExceptionClass, message, COBCPY_MODULE)

// `size` bytes from AllocateBytes, never null: a failed request raises CMemoryException
// with `message`; a CMemoryException from the storage layer is passed on with the
// engine's place added to its trail.
void* AllocateEngineBytes(std::size_t size, const char* message);

#endif
