// The columns of a data table: the elementary items of a copybook's layout in list
// order, as the CREATE TABLE export names them, with what decoding needs of each; and
// the nesting of groups and OCCURS arrays that JSON Lines shows.
#ifndef QUILLBOX_DATA_LAYOUTPLAN_H
#define QUILLBOX_DATA_LAYOUTPLAN_H

#include <string>
#include <vector>

#include "cobcpy.h"
#include "columnnames.h"
#include "datacodec.h"

namespace quillbox {

class TextCodec;

struct Field {
    // kBinary: two's complement, the first byte most significant (COMP, BINARY, COMP-4,
    // and native binary when the native order is big-endian); kComp5: the first byte
    // least significant (native binary: COMP-5, POINTER, INDEX, in little-endian order).
    enum Kind { kDisplay, kPacked, kBinary, kComp5, kFloat, kDouble, kText, kNational, kBits, kBoolChars };
    CopyItem* item;
    Kind kind;
    std::string column;   // UTF-8 column name: the item's name, "_" and its element number in an array
    int offset;           // first byte in the record, from 0
    int length;
    int digits;
    int scale;
    bool isSigned;
    bool signLeading;     // display: the sign is in (or before) the first digit
    bool signSeparate;    // display: the sign is a character of its own
    bool view;            // inside a redefining area: its bytes belong to an earlier item too
    bool overlaid;        // shares its bytes with another item (redefines or is redefined)
};

struct JsonNode {
    enum Kind { kLeaf, kObject, kArray } kind = kLeaf;
    std::string key;      // UTF-8, unescaped; empty for array elements
    int field = -1;       // the leaf's column
    std::vector<JsonNode> children;
};

struct LayoutPlan {
    std::vector<Field> fields;
    std::vector<JsonNode> roots;
    int recordLength = 0;
};

// Builds the plan of the list from `head`. `redefinesAll` takes every view of a
// redefined area, otherwise only the items outside redefining areas (as the DDL).
// False with `error` set when an item lies outside the record.
bool BuildLayoutPlan(CopyItem* head, int recordLength, bool redefinesAll, bool serialNo, LayoutPlan& plan,
                     std::string& error);

// How the columns of a table are chosen and named.
struct ColumnChoice {
    bool noFiller = false;                        // FILLER items give no column
    ColumnNaming naming = ColumnNaming::kCobol;   // the names as written, or SQL-safe
};
// The same with the columns chosen and named so.
bool BuildLayoutPlan(CopyItem* head, int recordLength, bool redefinesAll, bool serialNo, const ColumnChoice& choice,
                     LayoutPlan& plan, std::string& error);
// The least length of a record that holds every column that is not single-byte text:
// the bytes after it may be given as blanks (a text line whose trailing blanks were
// dropped).
size_t LeastNonTextLength(const LayoutPlan& plan);

// Whether native binary is big-endian under `order` for data in an EBCDIC code page
// (`ebcdic`) or not.
bool NativeBigEndian(NativeOrder order, bool ebcdic);
// Native binary columns (kComp5) read and written big-endian (as kBinary) when
// `bigEndian`.
void ApplyNativeOrder(LayoutPlan& plan, bool bigEndian);

// Whether the column's numbers are JSON strings under `numbers`: kString every number;
// kNumber none; kExact a decimal number with places (a scale) or with more than 15
// digits, by its PICTURE, or by its bytes for native binary, which its PICTURE does not
// bound. Floating point stays a number but under kString. False for text.
bool JsonNumberAsString(const Field& field, JsonNumbers numbers);

}  // namespace quillbox

#endif
