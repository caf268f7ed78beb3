// Shared by the engine's sources only.
#ifndef COBCPY_ENGINE_INTERNAL_H
#define COBCPY_ENGINE_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cobcpy.h"
#include "copyplaces.h"
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

// Whether `item` is an occurrence of an array of its own (it carries OCCURS, or is a
// copy of such an item) rather than an item inside an array occurrence: an array adds
// one to the dimension of the item it is subordinate to.
inline bool IsTableOccurrence(const CopyItem* item) {
    const int outer = item->parent != nullptr ? item->parent->dimension : 0;
    return item->elementNo > 0 && item->dimension > outer;
}

// Whether the item after `item` in list order is subordinate to it.
inline bool HasSubordinates(const CopyItem* item) { return item->next != nullptr && item->next->parent == item; }

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

// The UTF-8 byte order mark, which a copybook file may start with (no part of its text).
inline constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The next byte of a copybook file (source.cpp), its line ends read as one LF each; EOF
// at the end. `pending` carries line ends read ahead (0 at the start of the file).
int ReadSourceChar(std::FILE* file, int& pending);
// The same rule on a file's bytes held whole, in place; the byte order mark dropped too.
void NormalizeSourceText(std::string& text);

// LoadSource of the default analysis, on the fields of an analysis object; the kept
// lines' starts go to `lineStarts` when it is not null.
void LoadCopybookText(const char* fileName, std::FILE*& sourceFile, char*& sourceText,
                      std::vector<SourceLineStart>* lineStarts);

#endif
