// The columns and the JSON nesting of a layout.
#include "layoutplan.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "textcodec.h"

namespace quillbox {

namespace {

// The column kind of an item, from the engine's one storage rule.
Field::Kind KindOf(const CopyItem* item) {
    switch (StorageFormOf(item)) {
    case StorageForm::kDisplay: return Field::kDisplay;
    case StorageForm::kPacked: return Field::kPacked;
    case StorageForm::kBinary:
    case StorageForm::kNativeBinary:
        // A binary usage on bytes no 64-bit number holds (an alphanumeric COMP-X item
        // of more than 8 bytes): its bytes as text, as before.
        if (item->byteLength > 8 && !(item->flags & ITEM_NUMERIC)) return Field::kText;
        return StorageFormOf(item) == StorageForm::kBinary ? Field::kBinary : Field::kComp5;
    case StorageForm::kFloat: return Field::kFloat;
    case StorageForm::kDouble: return Field::kDouble;
    case StorageForm::kNational: return Field::kNational;
    case StorageForm::kBits: return Field::kBits;
    case StorageForm::kBoolChars: return Field::kBoolChars;
    case StorageForm::kNone:
    case StorageForm::kEdited:
    case StorageForm::kText: break;
    }
    return Field::kText;
}

// The item's name in UTF-8; a byte that is no Shift_JIS character becomes U+FFFD, as
// everywhere the system's names are shown.
std::string NameOf(const CopyItem* item) { return ShiftJisToUtf8(item->name); }

// An item that redefines: by its REDEFINES clause, or a record after the first, which
// shares the record's bytes with it. The list's first item redefines nothing in it: a
// record that redefines another (01 B REDEFINES A), taken alone, is a record of its own.
bool IsRedefining(const CopyItem* item, const CopyItem* head) {
    if (item == head) return false;
    return (item->flags & ITEM_REDEFINES) != 0 ||
           (item->parent == nullptr && item->level != 66 && item->position == 1 && item->level != 88);
}

bool InRedefiningArea(const CopyItem* item, const CopyItem* head) {
    for (const CopyItem* p = item; p != nullptr; p = p->parent) {
        if (IsRedefining(p, head)) return true;
    }
    return false;
}

struct TreeBuilder {
    const std::map<const CopyItem*, int>& fieldOf;
    bool all;
    const CopyItem* head;

    JsonNode Element(CopyItem* item) {
        JsonNode node;
        if (item->flags & ITEM_GROUP) {
            node.kind = JsonNode::kObject;
            Siblings(item->firstChild, node.children);
        } else {
            auto found = fieldOf.find(item);
            node.field = found == fieldOf.end() ? -1 : found->second;
        }
        return node;
    }

    void Siblings(CopyItem* first, std::vector<JsonNode>& out) {
        std::map<std::string, int> seen;
        for (CopyItem* item = first; item != nullptr;) {
            if ((!all && IsRedefining(item, head)) || (item->flags & (ITEM_CONDITION | ITEM_RENAMES))) {
                item = item->nextSibling;
                continue;
            }
            std::string key = NameOf(item);
            if (key.empty()) key = "FILLER";
            // Keys stay unique within an object: a repeated name (FILLER) is numbered.
            int repeat = ++seen[key];
            if (repeat > 1) key += "_" + std::to_string(repeat);
            JsonNode node;
            // An OCCURS item: the COBOL rules keep the count on the first occurrence of an
            // elementary table only, so an inner table's later copies are known by the
            // dimension they add to their parent's.
            int outer = item->parent != nullptr ? item->parent->dimension : 0;
            if (item->occursCount > 0 || (item->elementNo > 0 && item->dimension > outer)) {
                node.kind = JsonNode::kArray;
                CopyItem* element = item;
                int expected = item->elementNo;
                // The occurrences are the siblings that follow with the same name and
                // the next element numbers.
                while (element != nullptr && element->elementNo == expected &&
                       std::strcmp(element->name, item->name) == 0) {
                    node.children.push_back(Element(element));
                    ++expected;
                    element = element->nextSibling;
                }
                item = element;
            } else {
                node = Element(item);
                item = item->nextSibling;
            }
            node.key = key;
            if (node.kind != JsonNode::kLeaf || node.field >= 0) out.push_back(std::move(node));
        }
    }
};

}  // namespace

bool BuildLayoutPlan(CopyItem* head, int recordLength, bool redefinesAll, bool serialNo, LayoutPlan& plan,
                     std::string& error) {
    return BuildLayoutPlan(head, recordLength, redefinesAll, serialNo, ColumnChoice(), plan, error);
}

bool BuildLayoutPlan(CopyItem* head, int recordLength, bool redefinesAll, bool serialNo, const ColumnChoice& choice,
                     LayoutPlan& plan, std::string& error) {
    plan = LayoutPlan();
    plan.recordLength = recordLength;

    std::set<const CopyItem*> redefined;
    for (CopyItem* item = head; item != nullptr; item = item->next) {
        if (item->redefines != nullptr) redefined.insert(item->redefines);
    }
    std::map<const CopyItem*, int> fieldOf;
    for (CopyItem* item = head; item != nullptr;) {
        // Condition names and RENAMES have no storage of their own.
        if (item->flags & (ITEM_CONDITION | ITEM_RENAMES)) {
            item = item->next;
            continue;
        }
        if (!redefinesAll && IsRedefining(item, head)) {
            // The redefining item and everything under it, as the DDL export skips them.
            int level = item->level;
            item = item->next;
            while (item != nullptr && item->level > level) item = item->next;
            continue;
        }
        if ((item->flags & ITEM_GROUP) || (choice.noFiller && IsFillerItem(item))) {
            item = item->next;
            continue;
        }
        Field field;
        field.item = item;
        field.kind = KindOf(item);
        // Its name as an item; the column's name is given below, with the others'.
        field.column = NameOf(item);
        if (item->elementNo != 0) field.column += "_" + std::to_string(serialNo ? item->serialNo : item->elementNo);
        field.offset = item->position - 1;
        field.length = item->byteLength;
        field.digits = item->digits;
        field.scale = item->scale;
        field.isSigned = (item->flags & ITEM_SIGNED) != 0;
        field.signLeading = (item->flags & SIGN_LEADING) != 0;
        field.signSeparate = (item->flags & SIGN_SEPARATE) != 0;
        field.view = InRedefiningArea(item, head);
        field.overlaid = field.view;
        for (const CopyItem* p = item; p != nullptr && !field.overlaid; p = p->parent) {
            if (redefined.count(p)) field.overlaid = true;
        }
        if (field.offset < 0 || field.length < 0 || field.offset + field.length > recordLength) {
            error = "item " + field.column + " lies outside the record";
            return false;
        }
        bool binary = field.kind == Field::kBinary || field.kind == Field::kComp5;
        if ((binary && (field.length < 1 || field.length > 8)) ||
            (field.kind == Field::kFloat && field.length != 4) || (field.kind == Field::kDouble && field.length != 8)) {
            error = "item " + field.column + " has a length of " + std::to_string(field.length) +
                    " bytes, which its usage cannot hold";
            return false;
        }
        fieldOf[item] = static_cast<int>(plan.fields.size());
        plan.fields.push_back(std::move(field));
        item = item->next;
    }
    // The table's one naming rule over the columns chosen.
    std::vector<const CopyItem*> items;
    for (const Field& field : plan.fields) items.push_back(field.item);
    std::vector<std::string> names = ColumnNamesOf(items, serialNo, choice.naming);
    for (size_t i = 0; i < names.size(); ++i) plan.fields[i].column = ShiftJisToUtf8(names[i]);
    TreeBuilder builder{fieldOf, redefinesAll, head};
    builder.Siblings(head, plan.roots);
    return true;
}

size_t LeastNonTextLength(const LayoutPlan& plan) {
    size_t least = 0;
    for (const Field& field : plan.fields) {
        if (field.kind == Field::kText) continue;
        least = std::max(least, static_cast<size_t>(field.offset) + static_cast<size_t>(field.length));
    }
    return least;
}

bool NativeBigEndian(NativeOrder order, bool ebcdic) {
    return order == NativeOrder::kBig || (order == NativeOrder::kByEncoding && ebcdic);
}

void ApplyNativeOrder(LayoutPlan& plan, bool bigEndian) {
    if (!bigEndian) return;
    for (Field& field : plan.fields) {
        if (field.kind == Field::kComp5) field.kind = Field::kBinary;
    }
}

bool JsonNumberAsString(const Field& field, JsonNumbers numbers) {
    switch (field.kind) {
    case Field::kFloat:
    case Field::kDouble: return numbers == JsonNumbers::kString;
    case Field::kDisplay:
    case Field::kPacked:
    case Field::kBinary:
    case Field::kComp5: break;
    default: return false;
    }
    if (numbers != JsonNumbers::kExact) return numbers == JsonNumbers::kString;
    // Integers of up to 15 digits are exact as doubles, which is how most JSON readers
    // take numbers (2^53 has 16 digits).
    constexpr int kExactDigits = 15;
    if (field.scale > 0) return true;
    int digits = field.digits + (field.scale < 0 ? -field.scale : 0);
    // Native binary holds any value of its bytes, whatever its PICTURE says: 6 bytes
    // hold at most 15 digits.
    if (field.item != nullptr && StorageFormOf(field.item) == StorageForm::kNativeBinary && field.length > 6) return true;
    return digits > kExactDigits;
}

}  // namespace quillbox
