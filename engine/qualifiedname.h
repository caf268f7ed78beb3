// Item lookup by a qualified name as COBOL programs write it, over any laid-out item
// list (CopyAnalyzer's, CobolAnalyzer's, array occurrences expanded or not).
//
// A key names one data item and, when it lies in tables, one occurrence of it:
//   D                      the only item named D
//   D OF B    D IN B       D, subordinate (at any depth) to B; qualifiers go outwards
//   D OF B OF R (2)        the subscripts of the whole reference follow its last qualifier
//   D IN B(2) OF R         a subscript list may also follow the table it belongs to; when
//                          a name before the last has a list, the last name's is its own
//   X OF T (2, 3)          one subscript per table the item lies in, outermost first
//   R.B(2).D   T(2,3)      the same outermost first, joined by dots
// Names compare with ASCII letters in either case (double-byte characters exactly). A
// qualification need not be complete when it is unique, as in COBOL; subscripts are
// occurrence numbers from 1 (commas or blanks between them), one for every table that
// holds the item (the item's own OCCURS included), taken in order from the outermost
// table over all subscript lists of the key.
//
// The lookup never answers with an item other than the one named: a name that more
// than one data description entry answers to, a missing or surplus subscript, one
// beyond its table's OCCURS and a malformed key all give null. The form with a reason
// tells which ("not found", "ambiguous: D OF B OF R and D OF R", "D needs 1 subscript",
// "subscript 4 beyond OCCURS 3 of T", "syntax: ..."); names in it are as declared
// (Shift_JIS), the rest is ASCII.
//
// Each lookup walks the whole list once; a caller that reads many records keeps the
// item found.
#ifndef COBCPY_QUALIFIEDNAME_H
#define COBCPY_QUALIFIEDNAME_H

#include <string>

#include "cobcpy.h"

// The item of the list from `head` that `key` names, or null.
const CopyItem* FindQualifiedItem(const CopyItem* head, const char* key);
CopyItem* FindQualifiedItem(CopyItem* head, const char* key);
// The same; when it gives null, `reason` tells why (it is emptied otherwise).
const CopyItem* FindQualifiedItem(const CopyItem* head, const char* key, std::string& reason);
CopyItem* FindQualifiedItem(CopyItem* head, const char* key, std::string& reason);

#endif
