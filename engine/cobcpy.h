// cobcpy: the copybook analysis engine.
// A CopyAnalyzer reads one fixed-format COBOL copybook and turns it into a doubly
// linked list of laid-out CopyItem nodes (category, digits, scale, byte length,
// position, array element, REDEFINES target, remark).
// All texts are Shift_JIS byte strings; every capacity counts bytes.
#ifndef COBCPY_H
#define COBCPY_H

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cgiclib.h"

struct KeywordTable;

// Category bits: at most one of them, from the PICTURE or its absence.
constexpr unsigned ITEM_NUMERIC      = 0x1;
constexpr unsigned ITEM_ALPHANUMERIC = 0x2;
constexpr unsigned ITEM_NATIONAL     = 0x4;
constexpr unsigned ITEM_GROUP        = 0x8;
constexpr unsigned ITEM_BOOLEAN      = 0x10;
// Usage bits: every usage word of the entry adds its bit; groups pass them on.
constexpr unsigned USAGE_BINARY      = 0x100;
constexpr unsigned USAGE_COMP5       = 0x200;
constexpr unsigned USAGE_PACKED      = 0x400;
// Structure bits.
constexpr unsigned ITEM_ARRAY        = 0x10000;
constexpr unsigned ITEM_REDEFINES    = 0x20000;
constexpr unsigned ITEM_SIGNED       = 0x40000;
constexpr unsigned USAGE_BIT         = 0x80000;
constexpr unsigned USAGE_FLOAT       = 0x100000;
constexpr unsigned USAGE_DOUBLE      = 0x200000;
constexpr unsigned ITEM_LIST_END     = 0x1000000;

// Bits that only the COBOL-rules analysis (CobolAnalyzer, cobolrules.h) sets; the
// analysis above leaves them 0. Each qualifies the category and usage bits above,
// which keep their meaning, so every reader of those bits works unchanged.
constexpr unsigned ITEM_ALPHABETIC   = 0x20;        // PICTURE of A only (with ITEM_ALPHANUMERIC)
constexpr unsigned ITEM_EDITED       = 0x40;        // numeric-, alphanumeric- or national-edited PICTURE
constexpr unsigned ITEM_CONDITION    = 0x80;        // level 88: no storage; `picture` holds its VALUE text
constexpr unsigned ITEM_RENAMES      = 0x800;       // level 66: no storage of its own; `picture` holds "RENAMES a THRU b"
constexpr unsigned USAGE_POINTER     = 0x1000;      // POINTER, PROCEDURE-POINTER, FUNCTION-POINTER
constexpr unsigned USAGE_INDEX       = 0x2000;      // INDEX (4 bytes)
constexpr unsigned USAGE_NATIONAL    = 0x4000;      // USAGE NATIONAL, stated or implied by a PICTURE of N (DISPLAY-1 is DBCS: none)
constexpr unsigned USAGE_COMPX       = 0x8000;      // COMP-X (with USAGE_BINARY: unsigned, most significant byte first)
constexpr unsigned SIGN_SEPARATE     = 0x400000;    // SIGN ... SEPARATE: one byte of its own for the sign character
constexpr unsigned SIGN_LEADING      = 0x800000;    // SIGN LEADING: the sign is in (or before) the first digit
constexpr unsigned ITEM_SYNC         = 0x2000000;   // SYNCHRONIZED: aligned to its own size from the start of the record
constexpr unsigned ITEM_VARIABLE     = 0x4000000;   // OCCURS ... DEPENDING ON: laid out at its maximum count

// One data description entry of the copybook, or one occurrence copy of it.
struct CopyItem {
    int level, dimension, digits, byteLength, position, serialNo, elementNo, occursCount, scale;
    unsigned flags;
    char name[64], remark[64], picture[64];
    CopyItem *parent, *firstChild, *next, *prev, *nextSibling, *prevSibling, *redefines;
};

// The longest item list an analysis builds, array occurrence copies included. An
// array expansion that would pass it raises CItemLimitException: a CMemoryException
// with the message of a failed allocation, which a caller may tell apart by its class.
constexpr long MAX_LIST_ITEMS = 8388608;
// The most occurrences of an OCCURS ... DEPENDING ON table (COBOL rules). Every
// occurrence is laid out, and records hold far fewer; a larger maximum is refused at
// its entry, before anything is laid out.
constexpr int MAX_VARIABLE_OCCURS = 100000;

class CItemLimitException : public CMemoryException {
public:
    using CMemoryException::CMemoryException;
};

// Whole-text comparison with ASCII letters folded to lower case; 0 when equal.
int CompareNoCase(const char* a, const char* b);

// The item after `item` and everything subordinate to it: the first later item whose
// level is not greater than `item`'s, null at the end of the list. Walks over a
// redefining area (REDEFINES item and subtree) that shares storage counted elsewhere.
template <class Item>
Item* ItemAfterSubtree(Item* item) {
    const int level = item->level;
    for (item = item->next; item != nullptr && item->level > level; item = item->next) {
    }
    return item;
}

// The text of a 64-byte item field (name, remark, picture). The engine always
// terminates these fields; one that is not (an item filled by hand) is read up to its
// 63rd byte.
class ItemText {
public:
    explicit ItemText(const char (&field)[64]) {
        std::memcpy(text, field, sizeof text - 1);
        text[sizeof text - 1] = '\0';
    }
    const char* Get() const { return text; }

private:
    char text[64];
};

struct RedefinesIndex;

class CopyAnalyzer {
public:
    explicit CopyAnalyzer(const char* fileName);
    CopyAnalyzer(const CopyAnalyzer&) = delete;
    CopyAnalyzer& operator=(const CopyAnalyzer&) = delete;
    virtual CopyItem* InitItem(CopyItem* item);                       // slot 0
    virtual void      LoadSource();
    virtual void      JoinEntries();
    virtual char*     SkipBlanks(char* position);
    virtual char*     SkipWord(char* position);
    virtual char*     CutWord(char* position, char* buffer, int capacity);
    virtual char*     NextLine(char* position);
    virtual CopyItem* NewItem();
    virtual void      AppendItem(CopyItem* item);
    virtual void      InsertItemAfter(CopyItem* after, CopyItem* item);
    virtual void      ParseEntries();                                 // slot 10
    virtual bool      ParseUsage(CopyItem* item, const char* word);
    virtual void      BeginEntry(CopyItem*& item);
    virtual char*     ParseLevel(CopyItem* item, char* position);
    virtual char*     ParseName(CopyItem* item, char* position);
    virtual char*     ParseClauses(CopyItem* item, char* position);
    virtual char*     ParseTrailingClauses(CopyItem* item, char* position);
    virtual char*     EndEntry(CopyItem* item, char* position);
    virtual int       AnalyzeSignedPicture(const char* picture);
    virtual int       AnalyzeNumericPicture(const char* picture);
    virtual int       AnalyzeNationalPicture(const char* picture);     // slot 20
    virtual int       AnalyzeAlphanumericPicture(const char* picture);
    virtual int       AnalyzeBooleanPicture(const char* picture);
    virtual void      ExpandArrays(CopyItem* first);
    virtual CopyItem* LinkSiblings(CopyItem* item);
    virtual CopyItem* LinkGroups(CopyItem* item);
    virtual void      ComputeByteLengths(CopyItem* first);
    virtual CopyItem* ComputeDimensions(CopyItem* item, int depth);
    virtual CopyItem* NumberElements(CopyItem* item);
    virtual void      NumberAllElements();
    virtual void      NumberItems();                                  // slot 30
    virtual int       ComputeGroupLengths(CopyItem* item);
    virtual void      ComputeRecordLength();
    virtual CopyItem* ComputePositions(CopyItem* item, int position);
    virtual ~CopyAnalyzer();
    virtual bool        SetFileName(const char* name);
    virtual const char* FileName();
    virtual int         GetFileName(char* buffer, int size);
    virtual CopyItem*   GetHead();
    virtual void        FreeItems();
    virtual CopyItem*   Analyze();                                    // slot 40
    virtual unsigned    GetRecordLength();
    virtual unsigned    GetItemCount();
protected:
    unsigned recordLength;
    unsigned itemCount;
    char fileName[257];
    char* sourceText;
    CopyItem* head;
    FILE* sourceFile;
    int stage;
    // The last node of the list, so that appending costs the same at any list length.
    // Rule for every operation that changes the list: whenever `head` is null, `tail`
    // is null; otherwise `tail` is the node whose `next` is null. An operation that
    // links a node behind the last one (AppendItem, InsertItemAfter, array expansion
    // inserting copies at the end) makes it the new `tail`; one that unlinks or frees
    // the last node moves `tail` to its predecessor (FreeItems sets it to null).
    // AppendItem still walks forward along `next` from `tail`, so a node chained
    // behind `tail` by direct assignment is found; it never walks the whole list.
    CopyItem* tail;
    // The reserved words the parse stages and ParseUsage look words up in: the copybook
    // dialect's table (COPYBOOK_KEYWORDS, keywords.h) unless a subclass sets a table
    // that extends it.
    const KeywordTable* keywords;

private:
    // The parser's REDEFINES index (a name to the latest earlier item of that name);
    // emptied by FreeItems and by every parse.
    friend struct RedefinesIndex;
    RedefinesIndex* redefinesIndex;
};

#include "qualifiedname.h"
#include "storage.h"
#include "copyrecord.h"

#endif
